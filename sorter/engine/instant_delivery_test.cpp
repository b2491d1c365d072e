// Instant delivery ([Delivery] instant): the drop folder's watch the engine sets at its load
// for the host's wait, its switch, and its life with the rounds and the folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sorter/engine/lifecycle.h"
#include "sorter/engine/test_store.h"

namespace sorter {
namespace {

using namespace sorter::testing;
using testsupport::read_bytes;
using testsupport::write_bytes;

constexpr double kHang = 30.0;  // a notification that has not come by then never comes

// Records what the engine tells of the drop folder's watch.
class WatchHost final : public EngineHost {
 public:
  bool start_despite_running_flag() override { return true; }
  bool another_copy_running() override { return false; }
  void arrivals_watched(bool watched, const std::u16string& reason) override {
    told.push_back(std::string(watched ? "watched" : "not watched") +
                   (reason.empty() ? "" : ": " + utf8(reason)));
  }
  std::vector<std::string> told;
};

struct SwitchCase {
  const char* name;
  const char* ini;  // Sorter.ini's text; nullptr: no file
  bool allowed;     // the host lets delivery be instant
  bool watched;
};

// [Delivery] instant is True unless it says False; a host can keep the rounds to the tick.
TEST(InstantDelivery, TheSwitchInSorterIniAndTheHostsOwn) {
  const std::vector<SwitchCase> cases = {
      {"no Sorter.ini", nullptr, true, true},
      {"other keys only", "[Monitoring]\r\nvalue=True\r\n", true, true},
      {"False", "[Delivery]\r\ninstant=False\r\n", true, false},
      {"false", "[Delivery]\r\ninstant=false\r\n", true, false},
      {"0", "[Delivery]\r\ninstant=0\r\n", true, false},
      {"True", "[Delivery]\r\ninstant=True\r\n", true, true},
      {"no boolean", "[Delivery]\r\ninstant=soon\r\n", true, true},
      {"host keeps to the tick", nullptr, false, false},
  };
  for (const SwitchCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestStore store;
    if (c.ini) std::ofstream(store.root() / "Sorter.ini", std::ios::binary) << c.ini;
    WatchHost host;
    SorterEngine engine(store.paths(), host, in_process_mail_reader_factory());
    engine.allow_instant_delivery(c.allowed);
    ASSERT_TRUE(engine.load());
    EXPECT_EQ(engine.arrivals() != nullptr, c.watched);
    EXPECT_EQ(host.told, std::vector<std::string>{c.watched ? "watched" : "not watched"});
  }
}

// The watch announces a file dropped after the last round; the tick delivers it, and the
// confirmed exit ends the watch with the rounds.
TEST(InstantDelivery, TheWatchAnnouncesAFileForTheNextTick) {
  TestStore store;
  const fs::path bob = store.add_mailbox("bob");
  WatchHost host;
  SorterEngine engine(store.paths(), host, in_process_mail_reader_factory());
  ASSERT_TRUE(engine.load());
  engine.activate();
  ASSERT_NE(engine.arrivals(), nullptr);
  engine.tick();
  EXPECT_FALSE(engine.arrivals()->take_arrivals());
  const auto bytes = read_bytes(store.drop_mail("m.eml", u"ann", u"bob"));
  ASSERT_TRUE(engine.arrivals()->wait(kHang));
  EXPECT_TRUE(engine.arrivals()->take_arrivals());
  engine.tick();
  EXPECT_EQ(read_bytes(bob / "Inbox" / "m.eml"), bytes);
  engine.exit_confirmed();
  EXPECT_EQ(engine.arrivals(), nullptr);
}

#ifndef _WIN32
// A drop folder renamed away and made anew: the round after it watches the new one.
TEST(InstantDelivery, ADropFolderMadeAnewIsWatchedAfterTheNextTick) {
  TestStore store;
  WatchHost host;
  SorterEngine engine(store.paths(), host, in_process_mail_reader_factory());
  ASSERT_TRUE(engine.load());
  fs::rename(store.drop(), store.root() / "OldBank");
  fs::create_directory(store.drop());
  ASSERT_TRUE(engine.arrivals()->wait(kHang));
  EXPECT_TRUE(engine.arrivals()->take_arrivals());
  EXPECT_FALSE(engine.arrivals()->watching());
  engine.tick();
  ASSERT_TRUE(engine.arrivals()->watching());
  write_bytes(store.drop() / "m.eml", {1});
  ASSERT_TRUE(engine.arrivals()->wait(kHang));
  EXPECT_TRUE(engine.arrivals()->take_arrivals());
}
#endif

}  // namespace
}  // namespace sorter
