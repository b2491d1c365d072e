#include "sorter/ui/tray_icon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sorter::ui {
namespace {

constexpr UINT kCallback = WM_APP + 7;
constexpr UINT_PTR kRetryTimer = 42;

struct Call {
  DWORD message;
  std::wstring tip;
  UINT flags;
  UINT callback;
};

// A shell that records every call and refuses the first `refusals` adds.
class FakeShell {
 public:
  explicit FakeShell(int refusals = 0) : refusals_(refusals) {}
  TrayIcon::Notify notify() {
    return [this](DWORD message, NOTIFYICONDATAW& data) {
      calls.push_back({message, data.szTip, data.uFlags, data.uCallbackMessage});
      if (message == NIM_ADD && refusals_ > 0) {
        --refusals_;
        return false;
      }
      return true;
    };
  }
  int adds() const {
    int n = 0;
    for (const auto& c : calls) n += c.message == NIM_ADD;
    return n;
  }
  std::vector<Call> calls;

 private:
  int refusals_;
};

class TrayIconTest : public ::testing::Test {
 protected:
  TrayIconTest()
      : window_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                nullptr, nullptr)) {}
  ~TrayIconTest() override { DestroyWindow(window_); }
  HWND window_;
};

TEST_F(TrayIconTest, AddShowsTheIconWithTooltipAndCallback) {
  FakeShell shell;
  TrayIcon icon(window_, kCallback, kRetryTimer, nullptr, L"Vantry Sorter", shell.notify());
  icon.add();
  ASSERT_TRUE(icon.shown());
  ASSERT_EQ(shell.adds(), 1);
  const Call& add = shell.calls.back();
  EXPECT_EQ(add.tip, L"Vantry Sorter");
  EXPECT_EQ(add.callback, kCallback);
  EXPECT_EQ(add.flags, static_cast<UINT>(NIF_ICON | NIF_TIP | NIF_MESSAGE));
}

TEST_F(TrayIconTest, RefusedAddIsRetriedOnTheTimerUntilTheShellAccepts) {
  FakeShell shell(2);  // the notification area is not there yet at log-on
  TrayIcon icon(window_, kCallback, kRetryTimer, nullptr, L"Vantry Sorter", shell.notify());
  icon.add();
  EXPECT_FALSE(icon.shown());
  EXPECT_FALSE(icon.on_timer(kRetryTimer + 1));  // other timers are not the icon's
  EXPECT_TRUE(icon.on_timer(kRetryTimer));
  EXPECT_FALSE(icon.shown());
  EXPECT_TRUE(icon.on_timer(kRetryTimer));
  EXPECT_TRUE(icon.shown());
  EXPECT_TRUE(icon.on_timer(kRetryTimer));  // a tick already queued adds nothing twice
  EXPECT_EQ(shell.adds(), 3);
}

TEST_F(TrayIconTest, ShellRestartAddsTheIconAgainUnlessItWasRemoved) {
  FakeShell shell;
  TrayIcon icon(window_, kCallback, kRetryTimer, nullptr, L"Vantry Sorter", shell.notify());
  icon.add();
  ASSERT_NE(icon.taskbar_created_message(), 0u);
  EXPECT_TRUE(icon.on_message(icon.taskbar_created_message()));
  EXPECT_TRUE(icon.shown());
  EXPECT_EQ(shell.adds(), 2);
  icon.remove();
  EXPECT_EQ(shell.calls.back().message, static_cast<DWORD>(NIM_DELETE));
  EXPECT_TRUE(icon.on_message(icon.taskbar_created_message()));
  EXPECT_FALSE(icon.shown());
  EXPECT_EQ(shell.adds(), 2);
  EXPECT_FALSE(icon.on_message(WM_PAINT));
}

TEST_F(TrayIconTest, RemoveStopsRetrying) {
  FakeShell shell(100);
  TrayIcon icon(window_, kCallback, kRetryTimer, nullptr, L"Vantry Sorter", shell.notify());
  icon.add();
  icon.remove();
  const auto calls = shell.calls.size();
  icon.on_timer(kRetryTimer);
  EXPECT_EQ(shell.calls.size(), calls);
}

TEST_F(TrayIconTest, LeftAndRightClicksOnTheIconAreReported) {
  FakeShell shell;
  TrayIcon icon(window_, kCallback, kRetryTimer, nullptr, L"Vantry Sorter", shell.notify());
  EXPECT_TRUE(icon.is_click(kCallback, WM_RBUTTONUP));
  EXPECT_TRUE(icon.is_click(kCallback, WM_LBUTTONUP));
  EXPECT_FALSE(icon.is_click(kCallback, WM_MOUSEMOVE));
  EXPECT_FALSE(icon.is_click(kCallback + 1, WM_RBUTTONUP));
}

}  // namespace
}  // namespace sorter::ui
