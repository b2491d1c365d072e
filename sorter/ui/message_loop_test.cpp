#include "sorter/ui/message_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "sorter/engine/lifecycle.h"
#include "sorter/engine/test_store.h"

namespace sorter::ui {
namespace {

using namespace sorter::testing;
using testsupport::read_bytes;

constexpr auto kHang = std::chrono::seconds(60);  // the loop is ended by force after that

class QuietHost final : public EngineHost {
 public:
  bool start_despite_running_flag() override { return true; }
  bool another_copy_running() override { return false; }
};

// Polls until ready or the hang guard's time is up.
bool eventually(const std::function<bool()>& ready) {
  const auto until = std::chrono::steady_clock::now() + kHang;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The loop with the engine's watch and no sorting timer at all: a file dropped is delivered,
// and so is one completed after a round that found it still being written.
TEST(MessageLoop, AFileArrivingRunsARoundWithoutTheTimer) {
  TestStore store;
  const fs::path inbox = store.add_mailbox("bob") / "Inbox";
  QuietHost host;
  SorterEngine engine(store.paths(), host, in_process_mail_reader_factory());
  ASSERT_TRUE(engine.load());
  engine.activate();
  ASSERT_NE(engine.arrivals(), nullptr);

  TestStore scratch;
  const auto bytes = read_bytes(scratch.drop_mail("slow.eml", u"ann", u"bob"));
  const DWORD loop_thread = GetCurrentThreadId();
  std::atomic<bool> done{false}, waited_while_written{false};
  std::thread client([&] {
    {
      std::ofstream slow(store.drop() / "slow.eml", std::ios::binary);
      slow.write(reinterpret_cast<const char*>(bytes.data()), 10);
      slow.flush();
      store.drop_mail("quick.eml", u"ann", u"bob");
      if (eventually([&] { return fs::exists(inbox / "quick.eml"); })) {
        waited_while_written = fs::exists(store.drop() / "slow.eml");
      }
      slow.write(reinterpret_cast<const char*>(bytes.data()) + 10,
                 static_cast<std::streamsize>(bytes.size() - 10));
    }
    if (!eventually([&] { return done.load(); })) PostThreadMessageW(loop_thread, WM_QUIT, 0, 0);
  });
  run_message_loop(
      [&] {
        platform::FolderWatch* watch = engine.arrivals();
        return watch ? reinterpret_cast<HANDLE>(watch->wait_handle()) : nullptr;
      },
      [&] {
        if (!engine.arrivals()->take_arrivals()) return;
        engine.tick();
        if (fs::exists(inbox / "slow.eml")) {
          done = true;
          PostQuitMessage(0);
        }
      });
  done = true;
  client.join();
  EXPECT_TRUE(waited_while_written) << "the quick one went, the one still open stayed";
  EXPECT_EQ(read_bytes(inbox / "slow.eml"), bytes);
}

}  // namespace
}  // namespace sorter::ui
