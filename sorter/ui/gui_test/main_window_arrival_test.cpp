// The main window's rounds on arrivals, run inside the test program on a real display with its
// sorting timer ten minutes away, so that only the drop folder's watch can deliver.

#include "sorter/ui/main_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "sorter/engine/test_store.h"
#include "sorter/ui/message_loop.h"

namespace sorter::ui {
namespace {

using namespace sorter::testing;
using testsupport::read_bytes;

constexpr UINT kTenMinutes = 600000;

bool within_a_minute(const std::function<bool()>& ready) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The window's end asked the message loop to quit; this thread has no loop left to end.
void take_quit() {
  MSG quit;
  while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
}

// A client that pauses between its last write and its close: Windows tells of the write, not of
// the close, so the arrival's round finds the file still open; the rounds that follow take it.
TEST(MainWindow, TakesAFileClosedAfterAPauseWithoutItsTimer) {
  TestStore store;
  const fs::path inbox = store.add_mailbox("bob") / "Inbox";
  TestStore scratch;
  const auto bytes = read_bytes(scratch.drop_mail("paused.eml", u"ann", u"bob"));
  {
    MainWindow window(GetModuleHandleW(nullptr), store.paths(), in_process_mail_reader_factory(),
                      kTenMinutes);
    window.load();
    ASSERT_TRUE(window.has_window());
    ASSERT_NE(window.arrival_handle(), nullptr);
    const DWORD loop_thread = GetCurrentThreadId();
    std::thread client([&] {
      {
        std::ofstream paused(store.drop() / "paused.eml", std::ios::binary);
        paused.write(reinterpret_cast<const char*>(bytes.data()),
                     static_cast<std::streamsize>(bytes.size()));
        paused.flush();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
      }
      within_a_minute([&] { return fs::exists(inbox / "paused.eml"); });
      PostThreadMessageW(loop_thread, WM_QUIT, 0, 0);
    });
    run_message_loop([&] { return window.arrival_handle(); }, [&] { window.on_arrival(); });
    client.join();
  }
  take_quit();
  EXPECT_EQ(read_bytes(inbox / "paused.eml"), bytes);
}

// [Delivery] instant=False: nothing for the message loop to wait for but messages.
TEST(MainWindow, KeepsToItsTimerWhenInstantDeliveryIsOff) {
  TestStore store;
  std::ofstream(store.root() / "Sorter.ini", std::ios::binary) << "[Delivery]\r\ninstant=False\r\n";
  {
    MainWindow window(GetModuleHandleW(nullptr), store.paths(), in_process_mail_reader_factory(),
                      kTenMinutes);
    window.load();
    ASSERT_TRUE(window.has_window());
    EXPECT_EQ(window.arrival_handle(), nullptr);
  }
  take_quit();
}

}  // namespace
}  // namespace sorter::ui
