// Rounds of a sorter that runs, as the packaged service does, as a user of its own without
// privileges, over pupils' files: the kernel refuses it a read lease on a file it does not own
// (so only "unchanged since the last round" tells that the writer is done) and the open without
// access time (so it reads with it), and permission bits bind it. As root the rounds run in a
// child process that has dropped to another uid; elsewhere the test tier supplies the files.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/utf.h"
#include "sorter/engine/settings.h"
#include "sorter/engine/test_store.h"
#include "tests/support/other_owner.h"

namespace sorter {
namespace {

namespace fs = std::filesystem;
using testing::TestStore;
using testsupport::OtherOwner;
using testsupport::read_bytes;
using testsupport::u16;

// Where name lies now: the store folder that holds it, or "gone".
std::string where(const TestStore& store, const std::string& name) {
  for (const char* folder : {"MailBank", "Error", "MailBox/bob/Inbox", "MailBox/bob/Buffer"}) {
    if (fs::exists(store.root() / folder / name)) return folder;
  }
  return "gone";
}

// The pupil rewrites the file in place, as a client program saving it again would.
void rewrite(const fs::path& path, const std::vector<uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot rewrite " + path.string());
  const bool whole = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ::close(fd);
  if (!whole) throw std::runtime_error("short write to " + path.string());
}

struct Case {
  const char* name;
  std::function<void(const TestStore&)> setup;  // as the test's user, before the rounds
  // Run between the rounds (the pupil at work); empty: nothing happens.
  std::function<void(const TestStore&, int round)> between;
  int rounds;
  const char* expected;  // each round's report, then where a.eml is
  // What else the case looks at afterwards, appended to the answer.
  std::function<std::string(const TestStore&)> after = {};
};

// ann's e-mail to bob, with a mode, or given to the pupil.
std::function<void(const TestStore&)> mail_to_bob(mode_t mode) {
  return [mode](const TestStore& store) {
    fs::permissions(store.drop_mail("a.eml", u"ann", u"bob"), static_cast<fs::perms>(mode));
  };
}
void pupils_mail_to_bob(const TestStore& store) {
  OtherOwner::give_away(store.drop_mail("a.eml", u"ann", u"bob"));
}

// A longer e-mail of the same name, written over the first.
void saved_again(const TestStore& store, int round) {
  if (round != 1) return;
  TestStore scratch;
  const fs::path longer = scratch.drop_mail("b.eml", u"ann", u"bob", u"Hello again, longer");
  rewrite(store.drop() / "a.eml", read_bytes(longer));
}

// The pupil ann sends to nobody; her Client.ini is hers.
void pupil_bounced(const TestStore& store) {
  const fs::path ini = store.add_mailbox("ann") / "Client.ini";
  testsupport::write_bytes(ini, {'[', 'E', 'r', 'r', 'o', 'r', 's', ']', '\r', '\n'});
  OtherOwner::give_away(ini);
  store.drop_mail("a.eml", u"ann", u"nobody");
}
std::string client_ini(const TestStore& store) {
  const fs::path ini = store.root() / "MailBox" / "ann" / "Client.ini";
  struct stat st {};
  const bool hers = ::stat(ini.c_str(), &st) == 0 && st.st_uid != ::geteuid();
  return " | Status=" + platform::to_utf8(ReadINI(u16(ini), u"Errors", u"Status", u"none")) +
         (hers ? ", still hers" : ", now the service's");
}

const Case kCases[] = {
    // The service's own file: the lease answers at once.
    {"OwnMailIsDeliveredAtOnce", mail_to_bob(0644), {}, 1, "delivered 1 | MailBox/bob/Inbox"},
    // No lease for another owner's file: the round waits until it has seen the file unchanged;
    // the open without access time is refused, and the file is read with it.
    {"PupilsMailWaitsOneRoundThenIsDelivered", pupils_mail_to_bob, {}, 2,
     "waiting 1 | delivered 1 | MailBox/bob/Inbox"},
    {"PupilsMailSavedAgainWaitsAgain", pupils_mail_to_bob, saved_again, 3,
     "waiting 1 | waiting 1 | delivered 1 | MailBox/bob/Inbox"},
    // A file the service may not read is the file's fault.
    {"UnreadableMailGoesToError", mail_to_bob(0200), {}, 1, "to error 1 | Error"},
    // The bounce flag goes into the pupil's own file, which stays hers.
    {"BounceFlagKeepsThePupilsClientIni", pupil_bounced, {}, 1,
     "to error 1 | Error | Status=1, still hers", client_ini},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::string report_text(const RoundReport& r) {
  std::string text;
  const auto add = [&](const char* what, int n) {
    if (n != 0) text += (text.empty() ? "" : ", ") + std::string(what) + " " + std::to_string(n);
  };
  add("delivered", r.delivered);
  add("to error", r.to_error);
  add("deleted", r.deleted);
  add("waiting", r.waiting);
  add("stuck", r.stuck);
  return text.empty() ? "nothing" : text;
}

class PupilsFiles : public ::testing::TestWithParam<Case> {};

TEST_P(PupilsFiles, RoundsWithoutPrivileges) {
  if (const auto why = OtherOwner::unavailable()) GTEST_SKIP() << *why;
  const Case& c = GetParam();
  TestStore store;
  store.add_mailbox("bob");
  c.setup(store);
  const std::string answer = OtherOwner::run_unprivileged(store.root(), [&] {
    EventLog log([] { return testing::kNow; });
    const double now = testing::kNow;
    auto round = testing::bound_round(store, log, now, in_process_mail_reader_factory());
    std::string text;
    for (int r = 0; r < c.rounds; ++r) {
      if (r > 0 && c.between) c.between(store, r);
      round->DoRounds();
      text += report_text(round->last_round()) + " | ";
    }
    return text + where(store, "a.eml") + (c.after ? c.after(store) : "");
  });
  EXPECT_EQ(answer, c.expected);
}

INSTANTIATE_TEST_SUITE_P(AsTheService, PupilsFiles, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace sorter
