// The built headless sorter run as a user and a service manager run it: its exit codes, its
// stop on SIGTERM and SIGINT (idle or in a long round) with the running flag cleared for the
// next start, and the store console it serves, once and beside a refused second copy.

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sorter/engine/lifecycle.h"
#include "sorter/engine/settings.h"
#include "sorter/engine/test_store.h"
#include "tests/support/child_process.h"

namespace {

namespace fs = std::filesystem;
using sorter::testing::TestStore;
using testsupport::ChildProcess;
using testsupport::eventually;
using testsupport::read_text;
using testsupport::u16;

// The e-mail files in a folder (an Inbox also holds the sorter's timeStamp.dat).
std::size_t emails_in(const fs::path& folder) {
  std::size_t n = 0;
  for (const auto& entry : fs::directory_iterator(folder)) n += entry.path().extension() == ".eml";
  return n;
}

// The store's name in a case's arguments.
const std::string kStore = "<store>";

// A store with Tom's mailbox and count e-mails to him in MailBank, written an hour ago so
// that the first round takes them.
struct Store {
  explicit Store(int count = 1) {
    store.add_mailbox("Tom");
    const fs::path first = store.drop_mail("m0.eml", u"Ann", u"Tom");
    const auto written = fs::last_write_time(first) - std::chrono::hours(1);
    fs::last_write_time(first, written);
    for (int i = 1; i < count; ++i) {
      const fs::path copy = store.drop() / ("m" + std::to_string(i) + ".eml");
      fs::copy_file(first, copy);
      fs::last_write_time(copy, written);
    }
  }
  void set_running_flag() const {
    sorter::WriteINI(u16(store.root() / "Sorter.ini"), u"Persistance", u"running", u"True");
  }
  bool running_flag() const { return sorter::running_flag_set(store.paths()); }
  std::size_t waiting() const { return emails_in(store.drop()); }
  std::size_t delivered() const { return emails_in(store.root() / "MailBox" / "Tom" / "Inbox"); }

  // The sorter started on this store with args (kStore standing for its folder).
  std::unique_ptr<ChildProcess> start(std::vector<std::string> args,
                                      const std::string& name) const {
    for (auto& a : args) {
      if (a == kStore) a = store.root().string();
    }
    return std::make_unique<ChildProcess>(SORTER_PROGRAM, std::move(args),
                                          store.root() / (name + ".out"),
                                          store.root() / (name + ".err"));
  }

  TestStore store;
};

struct ExitCase {
  const char* name;
  std::vector<std::string> args;
  bool running_flag;      // Sorter.ini says a sorter runs before the start
  int exit_code;
  bool on_stdout;         // where the expected text is
  std::string text;
  std::size_t delivered;  // e-mails in Tom's Inbox afterwards
};

TEST(SorterProgram, ExitCodesAndWhatTheUserSees) {
  const std::vector<ExitCase> cases = {
      {"help", {"--help"}, false, 0, true, "usage: sorter [--store DIR]", 0},
      {"unknown option", {"--store", kStore, "--bogus"}, false, 1, false,
       "sorter: unknown option \"--bogus\"\nusage: sorter [--store DIR]", 0},
      {"interval out of range", {"--store", kStore, "--once", "--interval", "0"}, false, 1, false,
       "--interval wants a number of seconds from 0.1 to 86400, not \"0\"\nusage: sorter", 0},
      {"once", {"--store", kStore, "--once"}, false, 0, false, "sorter: stopped", 1},
      {"running flag set", {"--store", kStore, "--once"}, true, 3, false,
       "use --run-anyway to start all the same", 0},
      {"running flag set, run anyway", {"--store", kStore, "--once", "--run-anyway"}, true, 0,
       false, "sorter: stopped", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Store store;
    if (c.running_flag) store.set_running_flag();
    const auto sorter = store.start(c.args, "sorter");
    EXPECT_EQ(sorter->wait(), c.exit_code) << sorter->err();
    EXPECT_NE((c.on_stdout ? sorter->out() : sorter->err()).find(c.text), std::string::npos)
        << "stdout:\n" << sorter->out() << "stderr:\n" << sorter->err();
    if (c.on_stdout) EXPECT_EQ(sorter->err(), "");
    EXPECT_EQ(store.delivered(), c.delivered);
    EXPECT_EQ(store.waiting(), 1 - c.delivered);
    if (c.exit_code == 0 && !c.on_stdout) EXPECT_FALSE(store.running_flag());
  }
}

struct StopCase {
  const char* name;
  int signal;
  int emails;              // in MailBank at the start
  const char* interval;
};

class SorterStops : public ::testing::TestWithParam<StopCase> {};

// A service manager's stop or a Ctrl-C ends the sorter with exit 0 and clears the running flag,
// so that the next start goes ahead; a round in progress ends between two files.
TEST_P(SorterStops, ExitsZeroAndTheNextStartGoesAhead) {
  const StopCase& c = GetParam();
  Store store(c.emails);
  // Set by an earlier sorter that the service manager restarts with --run-anyway.
  store.set_running_flag();
  const auto sorter =
      store.start({"--store", kStore, "--interval", c.interval, "--run-anyway"}, "first");
  const auto loaded = [&] { return sorter->err().find("sorter: sorting") != std::string::npos; };
  ASSERT_TRUE(eventually(loaded)) << sorter->err();
  if (c.emails > 1) {
    // A round is under way once MailBank has lost its first e-mail.
    ASSERT_TRUE(eventually([&] { return store.waiting() < static_cast<std::size_t>(c.emails); }));
  }
  sorter->signal(c.signal);
  EXPECT_EQ(sorter->wait(), 0) << sorter->err();
  EXPECT_NE(sorter->err().find("sorter: stopped"), std::string::npos) << sorter->err();
  EXPECT_FALSE(store.running_flag()) << read_text(store.store.root() / "Sorter.ini");
  EXPECT_EQ(store.waiting() + store.delivered(), static_cast<std::size_t>(c.emails));
  // The long round ended between two files rather than at its end.
  if (c.emails > 1) EXPECT_GT(store.waiting(), 0u);

  const auto next = store.start({"--store", kStore, "--once"}, "next");
  EXPECT_EQ(next->wait(std::chrono::seconds(60)), 0) << next->err();
  EXPECT_EQ(store.delivered(), static_cast<std::size_t>(c.emails));
}

INSTANTIATE_TEST_SUITE_P(
    Signals, SorterStops,
    ::testing::Values(StopCase{"TermIdle", SIGTERM, 1, "600"},
                      StopCase{"IntIdle", SIGINT, 1, "600"},
                      StopCase{"TermInALongRound", SIGTERM, 2000, "0.1"},
                      StopCase{"IntInALongRound", SIGINT, 2000, "0.1"}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

struct DeliveryCase {
  const char* name;
  std::vector<std::string> options;
  const char* ini;  // Sorter.ini's text; nullptr: none
  bool instant;
};

// Sorters whose next tick is ten minutes away: those with instant delivery take a file as soon
// as it is complete, also one completed after a round that found it still being written; the
// others, switched to the plain tick by option or by Sorter.ini, still hold theirs when the
// instant ones have delivered.
TEST(SorterProgram, InstantDeliveryAndThePlainTick) {
  const std::vector<DeliveryCase> cases = {
      {"instant", {}, nullptr, true},
      {"--no-instant", {"--no-instant"}, nullptr, false},
      {"[Delivery] instant=False", {}, "[Delivery]\r\ninstant=False\r\n", false},
  };
  struct Running {
    const DeliveryCase& c;
    std::unique_ptr<Store> store;
    std::unique_ptr<ChildProcess> sorter;
    fs::path inbox() const { return store->store.root() / "MailBox" / "Tom" / "Inbox"; }
  };
  std::vector<Running> sorters;
  for (const auto& c : cases) {
    auto store = std::make_unique<Store>();
    fs::remove(store->store.drop() / "m0.eml");
    if (c.ini) std::ofstream(store->store.root() / "Sorter.ini", std::ios::binary) << c.ini;
    std::vector<std::string> args{"--store", kStore, "--interval", "600"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    auto sorter = store->start(args, "sorter");
    sorters.push_back({c, std::move(store), std::move(sorter)});
  }
  for (const auto& r : sorters) {
    SCOPED_TRACE(r.c.name);
    ASSERT_TRUE(eventually([&] { return r.sorter->err().find("sorter: sorting") != std::string::npos; }))
        << r.sorter->err();
    EXPECT_EQ(r.sorter->err().find(" every 600 s and as files arrive") != std::string::npos,
              r.c.instant)
        << r.sorter->err();
    r.store->store.drop_mail("a.eml", u"Ann", u"Tom");
  }
  for (const auto& r : sorters) {
    SCOPED_TRACE(r.c.name);
    if (r.c.instant) EXPECT_TRUE(eventually([&] { return fs::exists(r.inbox() / "a.eml"); }));
  }
  for (const auto& r : sorters) {
    SCOPED_TRACE(r.c.name);
    if (!r.c.instant) EXPECT_TRUE(fs::exists(r.store->store.drop() / "a.eml"));
  }

  const Running& instant = sorters.front();
  TestStore scratch;
  const auto bytes = testsupport::read_bytes(scratch.drop_mail("b.eml", u"Ann", u"Tom"));
  {
    std::ofstream slow(instant.store->store.drop() / "b.eml", std::ios::binary);
    slow.write(reinterpret_cast<const char*>(bytes.data()), 10);
    slow.flush();
    // A round takes this one while b.eml is still open.
    instant.store->store.drop_mail("c.eml", u"Ann", u"Tom");
    ASSERT_TRUE(eventually([&] { return fs::exists(instant.inbox() / "c.eml"); }));
    EXPECT_TRUE(fs::exists(instant.store->store.drop() / "b.eml"));
    slow.write(reinterpret_cast<const char*>(bytes.data()) + 10,
               static_cast<std::streamsize>(bytes.size() - 10));
  }
  EXPECT_TRUE(eventually([&] { return fs::exists(instant.inbox() / "b.eml"); }));
  EXPECT_EQ(testsupport::read_bytes(instant.inbox() / "b.eml"), bytes);
  for (const auto& r : sorters) {
    r.sorter->signal(SIGTERM);
    EXPECT_EQ(r.sorter->wait(), 0) << r.sorter->err();
  }
}

// The console's port from the line "sorter: store console at http://127.0.0.1:PORT/ ...".
int console_port(const std::string& messages) {
  const std::string marker = "sorter: store console at http://127.0.0.1:";
  const auto at = messages.find(marker);
  return at == std::string::npos ? 0 : std::atoi(messages.c_str() + at + marker.size());
}

std::string without_line_end(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// The console is up, its token file written and its address told, before the rounds start;
// a second copy on the same store stops with exit 4 and leaves that console and token alone.
TEST(SorterProgram, ConsoleBeforeRoundsAndASecondCopyLeavesItAlone) {
  Store store;
  const std::string token_file = (store.store.root() / "console.token").string();
  const std::vector<std::string> args{"--store", kStore, "--interval", "600",
                                      "--console", "127.0.0.1:0",
                                      "--console-token-file", token_file};
  const auto first = store.start(args, "first");
  ASSERT_TRUE(eventually([&] { return first->err().find("sorter: sorting") != std::string::npos; }))
      << first->err();
  const std::string messages = first->err();
  const auto console_line = messages.find("sorter: store console at http://127.0.0.1:");
  ASSERT_NE(console_line, std::string::npos) << messages;
  EXPECT_LT(console_line, messages.find("sorter: sorting")) << messages;
  const int port = console_port(messages);
  ASSERT_GT(port, 0) << messages;
  const std::string token = read_text(token_file);
  ASSERT_FALSE(without_line_end(token).empty());

  httplib::Client client("127.0.0.1", port);
  const auto page = client.Get("/login");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);

  const auto second = store.start(args, "second");
  EXPECT_EQ(second->wait(), 4) << second->err();
  EXPECT_NE(second->err().find("another sorter already runs"), std::string::npos) << second->err();
  EXPECT_EQ(second->err().find("store console at"), std::string::npos) << second->err();
  EXPECT_EQ(read_text(token_file), token);

  const auto login = client.Post("/login", httplib::Params{{"token", without_line_end(token)}});
  ASSERT_TRUE(login);
  EXPECT_EQ(login->status, 303);

  first->signal(SIGTERM);
  EXPECT_EQ(first->wait(), 0) << first->err();
}

}  // namespace
