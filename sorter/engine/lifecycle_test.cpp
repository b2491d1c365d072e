#include "sorter/engine/lifecycle.h"

#include <gtest/gtest.h>

#include "platform/confined_folder.h"
#include "sorter/engine/settings.h"
#include "sorter/engine/test_store.h"

namespace sorter {
namespace {

using namespace sorter::testing;
using testsupport::u16;
using testsupport::write_bytes;

// Records the engine's questions and events, in order.
class RecordingHost final : public EngineHost {
 public:
  bool start_despite_running_flag() override { return note("ask"), run_anyway; }
  bool another_copy_running() override { return note("copy?"), other_copy; }
  void refused_second_copy() override { note("refused"); }
  void developer_account(bool v) override { note(v ? "dev:on" : "dev:off"); }
  void loading() override { note("loading"); }
  void loaded() override { note("loaded"); }
  void round_ended() override { note("round-ended"); }
  void rounds_stopped() override { note("rounds-stopped"); }
  void stopping() override { note("stopping"); }

  void note(const std::string& call) { calls.push_back(call); }
  bool run_anyway = false;
  bool other_copy = false;
  std::vector<std::string> calls;
};

class LifecycleTest : public ::testing::Test {
 protected:
  SorterEngine make_engine(std::optional<std::u16string> domain = std::nullopt,
                           std::optional<std::u16string> user = std::nullopt) {
    auto env = [domain, user](std::u16string_view name) {
      return name == u"USERDOMAIN" ? domain : name == u"USERNAME" ? user : std::nullopt;
    };
    return SorterEngine(store.paths(), host, in_process_mail_reader_factory(), env,
                        [] { return kNow; }, RoundOptions{0.0, 3600.0});
  }
  void set_running(const std::u16string& value) {
    WriteINI(u16(store.root() / "Sorter.ini"), u"Persistance", u"running", value);
  }

  TestStore store;
  RecordingHost host;
};

TEST_F(LifecycleTest, StartUpAsksOnlyWhenTheRunningFlagIsSet) {
  EXPECT_TRUE(start_up(store.paths(), host));
  EXPECT_TRUE(host.calls.empty()) << "no Sorter.ini: no question";
  for (const std::u16string value : {u"maybe", u"0", u"false"}) {
    set_running(value);
    EXPECT_TRUE(start_up(store.paths(), host));
    EXPECT_TRUE(host.calls.empty());
  }
  const auto before = fs::last_write_time(store.root() / "Sorter.ini");
  for (const std::u16string value : {u"True", u"1"}) {
    set_running(value);
    host.calls.clear();
    host.run_anyway = false;
    EXPECT_FALSE(start_up(store.paths(), host));
    host.run_anyway = true;
    EXPECT_TRUE(start_up(store.paths(), host));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"ask", "ask"}));
  }
  EXPECT_GE(fs::last_write_time(store.root() / "Sorter.ini"), before);
  EXPECT_EQ(ReadINI(u16(store.root() / "Sorter.ini"), u"Persistance", u"running", u""), u"1");
}

TEST_F(LifecycleTest, DeveloperAccountsMatchInLowerCaseOnly) {
  EXPECT_TRUE(is_developer_account(u"KESTREL", u"Noor"));
  EXPECT_TRUE(is_developer_account(u"kestrel", u"tomas"));
  EXPECT_FALSE(is_developer_account(u"kestrel", u"tom"));
  EXPECT_FALSE(is_developer_account(u"other", u"ari"));
  EXPECT_FALSE(is_developer_account(u"kestrel ", u"ari"));
  EXPECT_FALSE(is_developer_account(std::nullopt, u"ari"));
  EXPECT_FALSE(is_developer_account(u"kestrel", std::nullopt));
}

TEST_F(LifecycleTest, LoadCreatesTheDropFolderThenReportsLoaded) {
  fs::remove_all(store.drop());
  SorterEngine engine = make_engine(u"Kestrel", u"ARI");
  ASSERT_TRUE(engine.load());
  EXPECT_TRUE(fs::is_directory(store.drop()));
  EXPECT_TRUE(fs::is_empty(store.drop()));
  EXPECT_EQ(host.calls,
            (std::vector<std::string>{"copy?", "dev:on", "loading", "loaded"}));
  EXPECT_EQ(engine.drop_folder(), u16(store.drop()));
}

// A kill during a settings rewrite or a move leaves temporary files: the load removes those
// beside Sorter.ini, the first round those of the folders it delivers into before it does.
TEST_F(LifecycleTest, LoadRemovesWhatAKilledSorterLeftBehind) {
  const fs::path bob = store.add_mailbox("bob");
  const std::string tmp = utf8(platform::kTemporaryPrefix);
  for (const fs::path& folder : {store.root(), bob, bob / "Inbox", bob / "Buffer",
                                 store.root() / "Error"}) {
    write_bytes(folder / (tmp + "1234-0-0"), {'[', 'c', 'u', 't'});
  }
  write_bytes(bob / "Inbox" / "mail.eml", {1});
  store.drop_mail("new.eml", u"ann", u"bob");
  SorterEngine engine = make_engine();
  ASSERT_TRUE(engine.load());
  EXPECT_EQ(file_count(store.root()), 0u);
  engine.tick();
  EXPECT_EQ(engine.round().last_round().delivered, 1);
  EXPECT_EQ(file_count(bob), 0u);
  EXPECT_EQ(file_count(bob / "Inbox"), 3u);  // mail.eml, new.eml, timeStamp.dat
  EXPECT_EQ(file_count(bob / "Buffer"), 0u);
  EXPECT_EQ(file_count(store.root() / "Error"), 0u);
}

TEST_F(LifecycleTest, SecondCopyRefusesItselfBeforeTouchingTheStore) {
  fs::remove_all(store.drop());
  host.other_copy = true;
  SorterEngine engine = make_engine();
  EXPECT_FALSE(engine.load());
  EXPECT_EQ(host.calls, (std::vector<std::string>{"copy?", "refused"}));
  EXPECT_FALSE(fs::exists(store.drop()));
  engine.tick();
  EXPECT_EQ(host.calls.size(), 2u) << "an unbound engine does not sort";
}

TEST_F(LifecycleTest, DropFolderThatCannotBeCreatedIsALoadFailure) {
  fs::remove_all(store.drop());
  testsupport::write_bytes(store.drop(), {1});  // a file where the folder should be
  SorterEngine engine = make_engine();
  try {
    engine.load();
    FAIL() << "load succeeded";
  } catch (const platform::AutomationError& e) {
    EXPECT_EQ(load_failure_text(e).substr(0, 7), u"Error: ");
    EXPECT_NE(load_failure_text(e).find(u" - "), std::u16string::npos);
  }
}

TEST_F(LifecycleTest, LogStartsAtFirstActivationOnly) {
  SorterEngine engine = make_engine();
  engine.load();
  store.drop_mail("m1.eml", u"", u"");
  engine.tick();
  EXPECT_TRUE(store.log_lines().empty()) << "not awake yet";
  engine.activate();
  engine.activate();
  EXPECT_TRUE(engine.awake());
  store.drop_mail("m2.eml", u"", u"");
  engine.tick();
  EXPECT_EQ(store.log_lines().size(), 1u);
}

TEST_F(LifecycleTest, ConfirmedExitRunsInOrderAndStopsEverything) {
  SorterEngine engine = make_engine();
  engine.load();
  engine.activate();
  host.calls.clear();
  engine.exit_confirmed();
  EXPECT_EQ(host.calls, (std::vector<std::string>{"rounds-stopped", "stopping"}));
  EXPECT_FALSE(engine.log().logging());
  EXPECT_FALSE(engine.timer_enabled());
  EXPECT_FALSE(engine.round().bound());
  store.add_mailbox("bob");
  store.drop_mail("m1.eml", u"ann", u"bob");
  engine.activate();
  engine.tick();
  EXPECT_TRUE(fs::exists(store.drop() / "m1.eml"));
  EXPECT_FALSE(engine.log().logging()) << "activation after the exit restarts nothing";
}

TEST_F(LifecycleTest, SessionEndOnlyReportsStopping) {
  SorterEngine engine = make_engine();
  engine.load();
  engine.activate();
  host.calls.clear();
  engine.exit_for_session_end();
  EXPECT_EQ(host.calls, (std::vector<std::string>{"stopping"}));
  EXPECT_TRUE(engine.log().logging());
  EXPECT_TRUE(engine.timer_enabled());
}

TEST_F(LifecycleTest, TerminateWritesFalseIntoTheOneSettingsFile) {
  SorterEngine engine = make_engine();
  engine.terminate();
  EXPECT_FALSE(running_flag_set(store.paths()));
  EXPECT_EQ(ReadINI(u16(store.root() / "Sorter.ini"), u"Persistance", u"running", u""), u"False");

  set_running(u"True");  // a flag set by someone else, in the file read at start
  WriteINI(u16(store.root() / "Sorter.ini"), u"Monitoring", u"value", u"1");
  engine.terminate();
  EXPECT_FALSE(running_flag_set(store.paths()));
  EXPECT_EQ(ReadINI(u16(store.root() / "Sorter.ini"), u"Monitoring", u"value", u""), u"1");
  std::size_t ini_files = 0;
  for (const auto& e : fs::directory_iterator(store.root())) {
    ini_files += e.path().extension() == ".ini";
  }
  EXPECT_EQ(ini_files, 1u);
}

TEST_F(LifecycleTest, TickReadsMonitoringThenSortsThenEndsTheRound) {
  SorterEngine engine = make_engine();
  engine.load();
  const fs::path bob = store.add_mailbox("bob");
  WriteINI(u16(store.root() / "Sorter.ini"), u"Monitoring", u"value", u"True");
  store.drop_mail("m1.eml", u"ann", u"bob");
  host.calls.clear();
  engine.tick();
  EXPECT_TRUE(fs::exists(bob / "Buffer" / "m1.eml"));
  EXPECT_EQ(host.calls, (std::vector<std::string>{"round-ended"}));
}

}  // namespace
}  // namespace sorter
