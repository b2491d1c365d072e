#include "sorter/headless/options.h"

#include <gtest/gtest.h>

#include <fstream>

#include "sorter/engine/lifecycle.h"
#include "tests/support/temp_dir.h"

namespace sorter::headless {
namespace {

class NoQuestionsHost final : public EngineHost {
 public:
  bool start_despite_running_flag() override { return false; }
  bool another_copy_running() override { return false; }
};

// The settings the sorter runs with when it is started without options on a store whose
// Sorter.ini is absent, empty or holds other keys only, built as the program builds them
// (sorter/headless/main.cpp), each against the value the documentation gives: README.md,
// sorter/README.md and corvane-sorter(8). Every other test states the options it relies on.
TEST(ShippedDefaults, WithoutCommandLineOptionsOrSorterIniKeys) {
  const Options options = parse_options({});
  EXPECT_FALSE(options.store.has_value()) << "the program's own folder";
  EXPECT_EQ(options.interval_seconds, 10.0) << "a round every ten seconds";
  EXPECT_NE(usage("sorter").find("between sorting rounds (default: 10)\n"), std::string::npos);
  EXPECT_FALSE(options.run_anyway) << "a running flag of True refuses the start";
  EXPECT_TRUE(options.instant) << "a round as soon as a file arrives, besides the interval";
  EXPECT_FALSE(options.once || options.help);
  EXPECT_FALSE(options.console || options.console_token_file || options.console_host_names);

  for (const char* ini : {static_cast<const char*>(nullptr), "", "[Other]\r\nrunning=True\r\n"}) {
    SCOPED_TRACE(ini == nullptr ? "no Sorter.ini" : ini);
    testsupport::TempDir dir;
    if (ini != nullptr) std::ofstream(dir / "Sorter.ini", std::ios::binary) << ini;
    const StorePaths paths(testsupport::u16(dir.path()));
    NoQuestionsHost host;
    EXPECT_FALSE(running_flag_set(paths));
    EXPECT_TRUE(instant_delivery_set(paths)) << "[Delivery] instant is True unless it says False";
    EXPECT_TRUE(start_up(paths, host));
    SorterEngine engine(paths, host, in_process_mail_reader_factory());
    engine.round().CheckMonitoring();
    EXPECT_FALSE(engine.round().monitoring()) << "deliveries go to Inbox, not Buffer";
    // The console's release takes a Buffer file by the rounds' own defaults.
    for (const RoundOptions& round : {engine.round().options(), RoundOptions{}}) {
      EXPECT_EQ(round.settle_seconds, 2.0) << "written less than two seconds ago: waits";
      EXPECT_EQ(round.repeat_seconds, 3600.0) << "the same problem logged again after an hour";
      EXPECT_TRUE(round.ask_writers) << "a read lease says whether anyone writes the file";
      EXPECT_EQ(round.unseen_writers_seconds, 30.0) << "without a lease: taken once 30 s old";
    }
  }
}

TEST(HeadlessOptions, EveryOption) {
  const Options all =
      parse_options({"--store", "/srv/mail", "--interval", "2.5", "--no-instant", "--run-anyway",
                     "--once", "--console", "8080", "--console-token-file", "/run/t",
                     "--console-host", "a,b", "--console-cert", "c.pem", "--console-key", "k.pem",
                     "--console-state", "/var/lib/s", "--console-users", "u",
                     "--console-notice-from", "Office"});
  EXPECT_EQ(all.store, "/srv/mail");
  EXPECT_EQ(all.console_cert, "c.pem");
  EXPECT_EQ(all.console_key, "k.pem");
  EXPECT_EQ(all.console_state, "/var/lib/s");
  EXPECT_EQ(all.console_users, "u");
  EXPECT_EQ(all.console_notice_from, "Office");
  EXPECT_EQ(all.console, "8080");
  EXPECT_EQ(all.console_token_file, "/run/t");
  EXPECT_EQ(all.console_host_names, "a,b");
  EXPECT_EQ(all.interval_seconds, 2.5);
  EXPECT_TRUE(all.run_anyway && all.once);
  EXPECT_FALSE(all.instant);
}

TEST(HeadlessOptions, BadInputIsRefusedWithAMessage) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--store"}, {"--store", ""}, {"--interval", "0"}, {"--interval", "ten"},
           {"--interval", "nan"}, {"--interval", "1e9"}, {"--bogus"}, {"store"},
           {"--console"}, {"--console", ""}, {"--console-token-file", ""}, {"--console-host"},
           {"--console-cert", ""}, {"--console-key"}, {"--console-state", ""},
           {"--console-users", ""}, {"--console-notice-from", ""}}) {
    EXPECT_THROW(parse_options(args), std::invalid_argument) << args[0];
  }
}

}  // namespace
}  // namespace sorter::headless
