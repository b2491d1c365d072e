#include "tools/cli.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <sstream>

#include "corvane/object_model/mail_object_model.h"
#include "tests/support/temp_dir.h"

namespace corvane::cli {
namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::u16;

struct Result {
  int code;
  std::string out;
  std::string err;
};

Result run(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  const int code = run_cli(args, out, err);
  return {code, out.str(), err.str()};
}

std::string utf8(const fs::path& p) {
  const std::u8string text = p.u8string();
  return std::string(text.begin(), text.end());
}

void write_text(const fs::path& path, const std::string& text) {
  testsupport::write_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

TEST(CorvaneCli, ArgumentErrorsExplainAndExit64) {
  EXPECT_EQ(run({}).code, kExitUsage);
  const Result unknown = run({"frobnicate"});
  EXPECT_EQ(unknown.code, kExitUsage);
  EXPECT_NE(unknown.err.find("unknown command 'frobnicate'"), std::string::npos);
  EXPECT_EQ(run({"dump-email"}).code, kExitUsage);
  EXPECT_EQ(run({"dump-email", "a", "b"}).code, kExitUsage);
  EXPECT_EQ(run({"send", "drop", "--from", "A", "--to", "T", "--text", "x"}).code, kExitUsage);
  EXPECT_EQ(run({"send", "drop", "--from"}).code, kExitUsage);
  EXPECT_EQ(run({"send", "drop", "--from", "a", "--from", "b"}).code, kExitUsage);
  const Result bad_option = run({"show-lesson", "x", "--colour", "red"});
  EXPECT_EQ(bad_option.code, kExitUsage);
  EXPECT_NE(bad_option.err.find("unknown option --colour"), std::string::npos);
}

TEST(CorvaneCli, HelpForTheToolAndEachCommand) {
  EXPECT_EQ(run({"--help"}).code, kExitOk);
  for (const char* command :
       {"dump-email", "dump-template", "show-lesson", "import-lesson", "send"}) {
    const Result help = run({command, "--help"});
    EXPECT_EQ(help.code, kExitOk);
    EXPECT_NE(help.out.find(std::string("usage: corvane ") + command), std::string::npos);
  }
}

#ifdef CORVANE_WITH_CONSOLE
TEST(CorvaneCli, ConsoleRefusesAMissingStoreOrAnAddressItCannotUse) {
  TempDir dir;
  EXPECT_EQ(run({"console", "--help"}).code, kExitOk);
  const Result missing = run({"console", utf8(dir / "nothing")});
  EXPECT_EQ(missing.code, kExitFailed);
  EXPECT_NE(missing.err.find("no such folder"), std::string::npos);
  const Result bad = run({"console", utf8(dir.path()), "--listen", "localhost:http"});
  EXPECT_EQ(bad.code, kExitFailed);
  EXPECT_NE(bad.err.find("address is PORT or ADDRESS:PORT"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "Error"));
}
#endif

TEST(CorvaneCli, ReadingCommandsRefuseMissingFilesWithoutCreatingThem) {
  TempDir dir;
  const std::string missing = utf8(dir / "missing.eml");
  for (const char* command : {"dump-email", "dump-template", "show-lesson"}) {
    const Result r = run({command, missing});
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_NE(r.err.find("no such file"), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(dir / "missing.eml"));
}

TEST(CorvaneCli, DumpsNeverCrashOnDamagedFiles) {
  TempDir dir;
  write_text(dir / "damaged",
             std::string("\x01\x02\x03\x00\xff\xff", 6) + std::string(40, '\x7f'));
  EXPECT_NE(run({"dump-email", utf8(dir / "damaged")}).code, kExitUsage);
  EXPECT_NE(run({"dump-template", utf8(dir / "damaged")}).code, kExitUsage);
  EXPECT_NE(run({"show-lesson", utf8(dir / "damaged")}).code, kExitUsage);
  EXPECT_EQ(run({"dump-email", utf8(dir.path())}).code, kExitFailed);
}

TEST(CorvaneCli, ImportThenShowLesson) {
  TempDir dir;
  write_text(dir / "l.csv", "1,Ann,Hi,Hello\r\n");
  EXPECT_EQ(run({"import-lesson", utf8(dir / "l.csv"), utf8(dir / "l.les")}).code, kExitOk);
  const Result shown = run({"show-lesson", utf8(dir / "l.les")});
  EXPECT_EQ(shown.code, kExitOk);
  EXPECT_NE(shown.out.find("\tIndex: 1\tChoices: \r\n\t\tFrom: Ann\r\n"), std::string::npos);
}

TEST(CorvaneCli, ImportOutcomes) {
  TempDir dir;
  write_text(dir / "header.csv", "Step,From,Subject,Message\r\n");
  const Result rejected = run({"import-lesson", utf8(dir / "header.csv"), utf8(dir / "l.les")});
  EXPECT_EQ(rejected.code, kExitFalse);
  EXPECT_FALSE(fs::exists(dir / "l.les"));

  write_text(dir / "ok.csv", "1,a,b,c\r\n");
  const Result unwritable =
      run({"import-lesson", utf8(dir / "ok.csv"), utf8(dir / "x" / "l.les")});
  EXPECT_EQ(unwritable.code, kExitFalse);
  EXPECT_NE(unwritable.err.find("Path not found"), std::string::npos);

  const Result missing = run({"import-lesson", utf8(dir / "none.csv"), utf8(dir / "l.les")});
  EXPECT_EQ(missing.code, kExitFailed);
  EXPECT_EQ(missing.err, "error 53: File not found\n");
}

TEST(CorvaneCli, SendWritesOneReadableEmailIntoTheDropFolder) {
  TempDir dir;
  fs::create_directories(dir / "MailBank");
  write_text(dir / "notes.txt", "attached");
  const Result sent = run({"send", utf8(dir / "MailBank"), "--from", "Ann", "--to", "Tom",
                           "--cc", "Cid", "--subject", "Hi \xC3\xA9", "--text", "Hello",
                           "--attach", utf8(dir / "notes.txt")});
  ASSERT_EQ(sent.code, kExitOk) << sent.err;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir / "MailBank")) files.push_back(entry.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(sent.out, utf8(files[0]) + "\n");
  EXPECT_EQ(files[0].extension(), ".eml");
  EXPECT_FALSE(fs::exists(dir / ".corvane-tmp"));

  MailObjectModel model;
  const auto [email, failure] = model.OpenEmail(u16(files[0]));
  ASSERT_FALSE(failure);
  EXPECT_EQ(email.emFrom, u"Ann");
  EXPECT_EQ(email.emTo, u"Tom");
  EXPECT_EQ(email.emCC, u"Cid");
  EXPECT_EQ(email.emSubject, u"Hi \u00e9");
  EXPECT_EQ(email.emMsg.Texts.at(0).Value, u"Hello");
  EXPECT_GT(email.emDate, 40000.0);
  const fs::path copy(email.emAttachments.FilePath);
  EXPECT_EQ(copy.parent_path(), dir / "Attachments");
  EXPECT_EQ(testsupport::read_bytes(copy), testsupport::read_bytes(dir / "notes.txt"));

  const Result second = run({"send", utf8(dir / "MailBank"), "--from", "A", "--to", "T",
                             "--subject", "S", "--text", "T"});
  EXPECT_EQ(second.code, kExitOk);
  EXPECT_NE(second.out, sent.out);
}

TEST(CorvaneCli, SendRefusesAMissingDropFolderOrAttachment) {
  TempDir dir;
  const Result no_folder = run({"send", utf8(dir / "MailBank"), "--from", "A", "--to", "T",
                                "--subject", "S", "--text", "T"});
  EXPECT_EQ(no_folder.code, kExitFailed);
  EXPECT_NE(no_folder.err.find("does not exist"), std::string::npos);
  fs::create_directories(dir / "MailBank");
  const Result no_file = run({"send", utf8(dir / "MailBank"), "--from", "A", "--to", "T",
                              "--subject", "S", "--text", "T", "--attach", utf8(dir / "nope")});
  EXPECT_EQ(no_file.code, kExitFailed);
  EXPECT_TRUE(fs::is_empty(dir / "MailBank"));
}

#ifndef _WIN32
// A FIFO would block the reading commands for ever: they refuse it, as any file that is not
// a regular one, before opening it.
TEST(CorvaneCli, CommandsRefuseWhatIsNotARegularFile) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  write_text(dir / "l.csv", "1,Ann,Hi,Hello\r\n");
  const std::string fifo = utf8(dir / "fifo");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"dump-email", fifo}, {"dump-template", fifo}, {"show-lesson", fifo},
           {"dump-email", "/dev/null"}, {"import-lesson", fifo, utf8(dir / "l.les")},
           {"import-lesson", utf8(dir / "l.csv"), fifo}}) {
    const Result r = run(args);
    EXPECT_EQ(r.code, kExitFailed) << args[0] << " " << args[1];
    EXPECT_NE(r.err.find(": not a regular file"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(dir / "l.les"));
}

// The attachment's copy is cut short by the file-size limit, as by a full disk: nothing is
// left under any name, and no e-mail is sent.
TEST(CorvaneCli, SendLeavesNoCutAttachmentBehind) {
  TempDir dir;
  fs::create_directories(dir / "MailBank");
  write_text(dir / "big.bin", std::string(256 * 1024, 'b'));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 * 1024, 64 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const Result r = run({"send", utf8(dir / "MailBank"), "--from", "A", "--to", "T",
                          "--subject", "S", "--text", "T", "--attach", utf8(dir / "big.bin")});
    ::_exit(r.code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), kExitFailed);
  EXPECT_TRUE(fs::is_empty(dir / "MailBank"));
  EXPECT_TRUE(!fs::exists(dir / "Attachments") || fs::is_empty(dir / "Attachments"));
}
#endif

}  // namespace
}  // namespace corvane::cli
