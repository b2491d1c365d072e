// The debug window and the message boxes on a real display (run under Xvfb). The test thread
// owns an active caller window and calls the operation, which blocks in its modal window; a
// driver thread finds the window, checks its text, title, layout and that the caller window is
// disabled meanwhile, and dismisses it the way a user or an automation tool would: mouse
// input, or messages sent to it (as another process sends them: they are handled inside the
// modal loop's wait, and the loop must notice).
//
// With CORVANE_SCREENSHOT_DIR set, the driver asks for a screenshot of each window: it writes
// <name>.ready into that folder and waits (at most 15 s) for <name>.done, which the harness
// writes after taking the picture.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "com_test_support.h"
#include "corvane/com/debug_window.h"
#include "corvane/com/udt_convert.h"
#include "corvane/lesson/lesson_display.h"
#include "corvane/object_model/mail_object_model.h"
#include "tests/support/temp_dir.h"
#include "tests/support/mouse_click.h"

namespace {

using namespace comtest;
using corvane::com::owned_udt;

// Waits up to 20 s for a top-level window of the class and title.
HWND wait_for_window(const wchar_t* cls, const wchar_t* title) {
  for (int i = 0; i < 400; ++i) {
    if (HWND w = FindWindowW(cls, title); w && IsWindowVisible(w)) return w;
    Sleep(50);
  }
  return nullptr;
}

std::wstring window_text(HWND w) {
  const auto n = static_cast<int>(SendMessageW(w, WM_GETTEXTLENGTH, 0, 0));
  std::wstring out(static_cast<size_t>(n) + 1, L'\0');
  SendMessageW(w, WM_GETTEXT, static_cast<WPARAM>(n + 1), reinterpret_cast<LPARAM>(out.data()));
  out.resize(static_cast<size_t>(n));
  return out;
}

void screenshot(const std::string& name) {
  const char* dir = std::getenv("CORVANE_SCREENSHOT_DIR");
  if (!dir || !*dir) return;
  const std::filesystem::path folder(dir);
  std::ofstream(folder / (name + ".ready")).put('\n');
  for (int i = 0; i < 300 && !std::filesystem::exists(folder / (name + ".done")); ++i) Sleep(50);
}

// Whether a message box shows an icon: a visible static control of the icon kind with an
// icon set (the control's identifier differs between platforms).
bool has_visible_icon(HWND box) {
  for (HWND child = FindWindowExW(box, nullptr, L"Static", nullptr); child;
       child = FindWindowExW(box, child, L"Static", nullptr)) {
    const auto style = GetWindowLongPtrW(child, GWL_STYLE);
    RECT r{};
    GetClientRect(child, &r);
    if ((style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) && r.right > 0 &&
        SendMessageW(child, STM_GETICON, 0, 0) != 0)
      return true;
  }
  return false;
}

std::u16string u16(const std::wstring& w) { return std::u16string(w.begin(), w.end()); }

// Observations of one message box, made by the driver before it presses OK.
struct BoxSeen {
  bool found = false;
  std::wstring text;
  bool has_icon = false;
  bool owned_by_caller = false;
  bool caller_disabled = false;
};

// Drives the next message box with the title: reads it, optionally screenshots it, presses OK.
std::future<BoxSeen> drive_message_box(const wchar_t* title, std::string shot, HWND caller) {
  return std::async(std::launch::async, [title, shot, caller] {
    BoxSeen seen;
    HWND box = wait_for_window(L"#32770", title);
    if (!box) return seen;
    seen.found = true;
    seen.text = window_text(GetDlgItem(box, 0xFFFF));
    seen.has_icon = has_visible_icon(box);
    seen.owned_by_caller = GetWindow(box, GW_OWNER) == caller;
    seen.caller_disabled = !IsWindowEnabled(caller);
    screenshot(shot);
    HWND ok = FindWindowExW(box, nullptr, L"Button", nullptr);
    SendMessageW(ok, BM_CLICK, 0, 0);
    return seen;
  });
}

// A click of the left button at a point of a window's client area, as mouse input.
void click_with_mouse(HWND window, POINT at) {
  ClientToScreen(window, &at);
  testsupport::click_mouse_at(at);
}

// Sends a message the way another program does, without waiting longer than five seconds.
void send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL, 5000, &ignored);
}

class Windows : public testing::Test {
 protected:
  // The caller's own window, active on the test thread as a client's form would be.
  void SetUp() override {
    caller = CreateWindowExW(0, L"STATIC", L"Caller", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 600, 500,
                             200, 120, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(caller, nullptr);
    SetForegroundWindow(caller);
    SetActiveWindow(caller);
    ASSERT_EQ(GetActiveWindow(), caller);
  }
  void TearDown() override { DestroyWindow(caller); }

  HWND caller = nullptr;
  com_ptr<_MailObjectModel> object = create_object();
  corvane::MailObjectModel core;
};

// How the driver closes the debug window in each round.
enum class Dismissal { kMouse, kSentClick, kSentCancel };

TEST_F(Windows, DebugWindowShowsTheDumpModallyAndClosesOnAClick) {
  owned_udt<::EmailMsg> email;
  corvane::com::to_udt(sample_email(), email.get());
  const DWORD test_thread = GetCurrentThreadId();
  // Closed windows are created again; each round closes it another way.
  for (const Dismissal how : {Dismissal::kMouse, Dismissal::kSentClick, Dismissal::kSentCancel}) {
    SCOPED_TRACE(static_cast<int>(how));
    std::atomic<bool> returned{false};
    auto driver = std::async(std::launch::async, [&, how] {
      struct Seen {
        bool found = false, caption = true, sizable = false, owned_by_caller = false,
             caller_disabled = false, call_returned = false;
        RECT client{}, text_box{}, image{};
        std::wstring text;
      } seen;
      HWND w = wait_for_window(corvane::com::kDebugWindowClass, corvane::com::kDebugWindowTitle);
      if (!w) return seen;
      seen.found = true;
      const LONG_PTR style = GetWindowLongPtrW(w, GWL_STYLE);
      seen.caption = (style & WS_CAPTION) == WS_CAPTION;
      seen.sizable = (style & WS_THICKFRAME) != 0;
      seen.owned_by_caller = GetWindow(w, GW_OWNER) == caller;
      seen.caller_disabled = !IsWindowEnabled(caller);
      GetClientRect(w, &seen.client);
      HWND text = GetDlgItem(w, corvane::com::kTxtOutId);
      seen.text = window_text(text);
      GetWindowRect(text, &seen.text_box);
      MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&seen.text_box), 2);
      GetWindowRect(GetDlgItem(w, corvane::com::kImage1Id), &seen.image);
      MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&seen.image), 2);
      if (how == Dismissal::kMouse) screenshot("debug_window");
      // A click on the picture does not close the window; one on the surface does.
      PostMessageW(GetDlgItem(w, corvane::com::kImage1Id), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
      Sleep(200);
      seen.caption = seen.caption || !IsWindow(w);
      switch (how) {
        case Dismissal::kMouse: click_with_mouse(w, {20, 195}); break;
        case Dismissal::kSentClick:
          send(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 195));
          send(w, WM_LBUTTONUP, 0, MAKELPARAM(20, 195));
          break;
        case Dismissal::kSentCancel: send(w, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0); break;
      }
      // The call returns within a few seconds; a loop that missed the close is woken here so
      // that the test ends either way.
      for (int i = 0; i < 50 && !returned; ++i) Sleep(100);
      seen.call_returned = returned;
      if (!returned) {
        if (IsWindow(w)) PostMessageW(w, WM_LBUTTONUP, 0, MAKELPARAM(20, 195));
        PostThreadMessageW(test_thread, WM_NULL, 0, 0);
      }
      return seen;
    });
    unique_bstr dump;
    ASSERT_EQ(object->DebugEmail(&email.get(), VARIANT_TRUE, dump.put()), S_OK);
    returned = true;
    const auto seen = driver.get();
    ASSERT_TRUE(seen.found);
    EXPECT_TRUE(seen.call_returned) << "the window closed, but the call went on waiting";
    EXPECT_TRUE(seen.owned_by_caller);
    EXPECT_TRUE(seen.caller_disabled) << "modal: the caller's window takes no input meanwhile";
    EXPECT_TRUE(IsWindowEnabled(caller)) << "and takes input again afterwards";
    EXPECT_FALSE(seen.caption) << "no title bar, and still open after a click on Image1";
    EXPECT_TRUE(seen.sizable);
    EXPECT_EQ(seen.client.right, 313);
    EXPECT_EQ(seen.client.bottom, 209);
    EXPECT_EQ(seen.text_box.left, 8);
    EXPECT_EQ(seen.text_box.top, 8);
    EXPECT_EQ(seen.text_box.right - seen.text_box.left, 297);
    EXPECT_EQ(seen.image.left, 104);
    EXPECT_EQ(seen.image.right - seen.image.left, 203);
    EXPECT_EQ(u16(seen.text), core.DebugEmail(sample_email()));
    EXPECT_EQ(text(dump.get()), core.DebugEmail(sample_email()));
    EXPECT_EQ(FindWindowW(corvane::com::kDebugWindowClass, nullptr), nullptr) << "closed";
  }
}

TEST_F(Windows, DisplayLessonShowsTheLessonInAnInformationBox) {
  testsupport::TempDir dir;
  const auto path = testsupport::u16(dir / "lesson.lsn");
  ASSERT_TRUE(core.SaveLesson(path, sample_lesson()));
  auto driver = drive_message_box(L"Lesson", "display_lesson", caller);
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(object->DisplayLesson(bstr(path).get(), &result), S_OK);
  EXPECT_EQ(V_VT(&result), VT_EMPTY);
  const auto seen = driver.get();
  ASSERT_TRUE(seen.found);
  EXPECT_TRUE(seen.owned_by_caller);
  EXPECT_TRUE(seen.caller_disabled) << "modal: the caller's window takes no input meanwhile";
  EXPECT_TRUE(IsWindowEnabled(caller));
  EXPECT_TRUE(seen.has_icon);
  EXPECT_EQ(u16(seen.text), corvane::lesson_display_text(path, sample_lesson()));
}

TEST_F(Windows, ShowTimeShowsTheTimeUnderTheLibraryTitleWithoutIcon) {
  auto driver = drive_message_box(L"Quenby Email Object Model Library", "show_time", caller);
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(object->ShowTime(&result), S_OK);
  EXPECT_EQ(V_VT(&result), VT_EMPTY);
  const auto seen = driver.get();
  ASSERT_TRUE(seen.found);
  EXPECT_TRUE(seen.owned_by_caller);
  EXPECT_TRUE(seen.caller_disabled) << "modal: the caller's window takes no input meanwhile";
  EXPECT_TRUE(IsWindowEnabled(caller));
  EXPECT_FALSE(seen.has_icon);
  EXPECT_FALSE(seen.text.empty());
  EXPECT_NE(seen.text.find(L':'), std::wstring::npos) << "a time of day is shown";
}

}  // namespace
