// The main window as the program shows it, run inside the test program on a real display:
// what an observer sees at the moment the window first becomes visible.

#include "sorter/ui/main_window.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace sorter::ui {
namespace {

// The client size of the first window of this thread to become visible, taken inside the
// show itself (a hook on the window procedure calls of the thread).
SIZE g_first_visible_client{-1, -1};

LRESULT CALLBACK watch_show(int code, WPARAM wparam, LPARAM lparam) {
  const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
  if (code == HC_ACTION && call->message == WM_WINDOWPOSCHANGED &&
      (reinterpret_cast<const WINDOWPOS*>(call->lParam)->flags & SWP_SHOWWINDOW) &&
      g_first_visible_client.cx < 0 && GetParent(call->hwnd) == nullptr) {
    RECT client{};
    GetClientRect(call->hwnd, &client);
    g_first_visible_client = {client.right, client.bottom};
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

TEST(MainWindow, IsFittedToThePictureBeforeItFirstBecomesVisible) {
  testsupport::TempDir folder;
  {
    MainWindow window(GetModuleHandleW(nullptr), StorePaths(folder.path().u16string()),
                      in_process_mail_reader_factory());
    window.load();
    ASSERT_TRUE(window.has_window());
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROCRET, watch_show, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    window.show();
    UnhookWindowsHookEx(hook);
  }
  EXPECT_EQ(g_first_visible_client.cx, 469);
  EXPECT_EQ(g_first_visible_client.cy, 371);
  // The window's end asked the message loop to quit; this thread has no loop to end.
  MSG quit;
  PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

}  // namespace
}  // namespace sorter::ui
