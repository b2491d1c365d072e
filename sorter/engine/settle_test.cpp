// The settling rules where the file system tells who writes a file: a complete file is taken
// as soon as nobody writes it, the settling times stay for what the lease cannot tell.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "sorter/engine/sorting_round.h"
#include "sorter/engine/test_store.h"

namespace sorter {
namespace {

using namespace sorter::testing;
using testsupport::write_bytes;

// Where a file is after one round with the shipped settling times.
struct SettleCase {
  const char* name;
  bool ask_writers;
  bool empty;         // created and closed without a byte
  const char* after;  // "MailBank", "Inbox", "Error" or "deleted"
  const char* later;  // after two more rounds, the file written an hour before
};

// A complete file is taken in the round that first sees it, however fresh, where its writers
// can be seen; a fresh empty one (its creator's open may not count as a writer yet) and, where
// writers cannot be seen, any fresh one waits.
TEST(LeaseFirstSettle, AFreshFileIsTakenAtOnceOnlyWhereItsWritersAreSeen) {
  const std::vector<SettleCase> cases = {
      {"complete, nobody writes it", true, false, "Inbox", "Inbox"},
      {"empty, nobody writes it", true, true, "MailBank", "deleted"},
      {"complete, writers not seen", false, false, "MailBank", "Inbox"},
  };
  for (const SettleCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestStore store;
    EventLog log{[] { return kNow; }};
    const double now = kNow;
    RoundOptions options;  // two seconds to settle, 30 where writers cannot be seen
    options.ask_writers = c.ask_writers;
    auto round = bound_round(store, log, now, in_process_mail_reader_factory(), options);
    const fs::path bob = store.add_mailbox("bob");
    const fs::path file = store.drop() / "m.eml";
    if (c.empty) {
      write_bytes(file, {});
    } else {
      store.drop_mail("m.eml", u"ann", u"bob");
    }
    const auto where = [&]() -> std::string {
      if (fs::exists(file)) return "MailBank";
      if (fs::exists(bob / "Inbox" / "m.eml")) return "Inbox";
      return fs::exists(store.root() / "Error" / "m.eml") ? "Error" : "deleted";
    };
    round->DoRounds();
    EXPECT_EQ(where(), c.after);
    if (where() == "MailBank") {
      EXPECT_EQ(round->last_round().waiting, 1);
      fs::last_write_time(file, fs::file_time_type::clock::now() - std::chrono::hours(1));
    }
    round->DoRounds();
    round->DoRounds();
    EXPECT_EQ(where(), c.later);
  }
}

}  // namespace
}  // namespace sorter
