// A FIFO planted at a name the sorter or the console opens is refused at once: opened for
// reading it would wait for a writer, for writing for a reader. Should an operation still wait
// after a generous time, the test opens the FIFO's other end, so the hang ends as a failure.

#include <fcntl.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>

#include "platform/automation_error.h"
#include "platform/confined_folder.h"
#include "platform/file_system.h"
#include "sorter/console/server.h"
#include "sorter/engine/settings.h"
#include "sorter/engine/store_folders.h"
#include "sorter/engine/test_store.h"
#include "sorter/engine/time_stamp.h"

namespace sorter {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::TestStore;
using testsupport::u16;

// An unprivileged user for the file-system checks of one thread (the service user's view).
constexpr uid_t kNobody = 65534;

struct Case {
  const char* name;
  const char* fifo;  // below the store's root
  mode_t mode;       // of the FIFO
  bool as_service_user;
  std::function<std::string(const TestStore&)> run;  // what the operation answered
  const char* expected;
};

// What an operation answered: "done", an error number, or "refused".
std::string outcome(const std::function<void()>& f) {
  try {
    f();
    return "done";
  } catch (const platform::AutomationError& e) {
    return std::to_string(e.number());
  } catch (const std::runtime_error&) {
    return "refused";
  }
}

std::u16string at(const TestStore& store, const char* name) { return u16(store.root() / name); }

const Case kCases[] = {
    {"TimeStampInReadOnlyInbox", "MailBox/ann/Inbox/timeStamp.dat", 0444, true,
     [](const TestStore& store) {
       const auto inbox = platform::ConfinedFolder::open(at(store, "MailBox/ann/Inbox"));
       return outcome([&] { inbox.open_file(kTimeStampName); });
     },
     "70"},  // the read-write open's refusal
    {"ClientIniRead", "MailBox/ann/Client.ini", 0600, false,
     [](const TestStore& store) {
       return platform::to_utf8(
           ReadINI(at(store, "MailBox/ann/Client.ini"), u"Errors", u"Status", u"none"));
     },
     "none"},
    {"LogAppend", "Error/SortErr.log", 0600, false,
     [](const TestStore& store) {
       return outcome([&] { platform::append_to_file(at(store, "Error/SortErr.log"), "x"); });
     },
     "75"},
    {"MoveByCopySource", "MailBank/a.eml", 0600, false,
     [](const TestStore& store) {
       const auto drop = platform::ConfinedFolder::open(at(store, "MailBank"));
       const auto inbox = platform::ConfinedFolder::open(at(store, "MailBox/ann/Inbox"));
       return outcome(
           [&] { drop.move_file(u"a.eml", inbox, u"a.eml", platform::MoveMethod::copy); });
     },
     "75"},
    {"LeftoverAtStartUp", "MailBank/b.eml", 0600, false,
     [](const TestStore& store) {
       // A copy that already holds its final name in Error: the first round to open Error
       // after the start would compare it with the drop folder's file of that name before
       // removing that one.
       const fs::path error = store.root() / "Error";
       const fs::path temp = error / (platform::to_utf8(platform::kTemporaryPrefix) + "1");
       testsupport::write_bytes(error / "b.eml", {'m'});
       fs::create_hard_link(error / "b.eml", temp);
       remove_store_leftovers(store.paths());
       const StorePaths paths = store.paths();
       StoreFolders folders(paths);
       folders.begin_round(64);
       const bool opened = folders.error().folder != nullptr;
       return std::string(opened ? "opened" : "failed") + (fs::exists(temp) ? ", kept" : ", removed");
     },
     "opened, removed"},
    {"ConsoleTokenFile", "console.token", 0600, false,
     [](const TestStore& store) {
       return outcome([&] {
         console::write_token_file((store.root() / "console.token").string(), "secret");
       });
     },
     "refused"},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class StoreOpens : public ::testing::TestWithParam<Case> {};

// Runs the case's operation, as the service user when it asks for one; a hang on the FIFO is
// ended by opening its other end, and reported.
std::string run_without_hang(const Case& c, const TestStore& store, const fs::path& fifo) {
  ::signal(SIGPIPE, SIG_IGN);  // a write into the FIFO after the rescue fails, not kills
  auto answer = std::async(std::launch::async, [&] {
    if (c.as_service_user && ::geteuid() == 0) ::setfsuid(kNobody);  // this thread only
    std::string result = c.run(store);
    if (c.as_service_user && ::geteuid() == 0) ::setfsuid(0);
    return result;
  });
  if (answer.wait_for(20s) != std::future_status::ready) {
    ADD_FAILURE() << c.name << ": the operation still waits on the FIFO";
    const int other_end = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    answer.wait_for(2s);
    if (other_end >= 0) ::close(other_end);
  }
  return answer.get();
}

TEST_P(StoreOpens, AFifoAtTheNameIsRefusedAtOnce) {
  const Case& c = GetParam();
  TestStore store;
  const fs::path ann = store.add_mailbox("ann");
  // The service user may look into the store's folders.
  for (const fs::path& p : {store.root(), store.root() / "MailBox", ann, ann / "Inbox"}) {
    fs::permissions(p, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
  }
  const fs::path fifo = store.root() / c.fifo;
  ASSERT_EQ(::mkfifo(fifo.c_str(), c.mode), 0);
  EXPECT_EQ(run_without_hang(c, store, fifo), c.expected);
  EXPECT_TRUE(fs::is_fifo(fifo));  // neither removed nor replaced
}

INSTANTIATE_TEST_SUITE_P(EveryName, StoreOpens, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace sorter
