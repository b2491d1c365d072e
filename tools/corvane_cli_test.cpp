// The `corvane` tool as a user runs it: natively the built program (main included), under Wine
// run_cli in-process. Each case pins the exit code, the exact output or the message, and what
// the command leaves in a scratch folder.

#include "tools/cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <sstream>

#include "corvane/model/record_codec.h"
#include "corvane/object_model/mail_object_model.h"
#include "tests/support/temp_dir.h"
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/child_process.h"
#endif
#ifdef CORVANE_WITH_CONSOLE
#include "sorter/console/accounts.h"
#endif
#if defined(CORVANE_PROGRAM) && defined(CORVANE_WITH_CONSOLE)
#include "sorter/console/raw_client_test_support.h"
#endif

namespace corvane::cli {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testsupport::read_bytes;
using testsupport::TempDir;
using testsupport::write_text;

struct Result {
  int code;
  std::string out;
  std::string err;
};

Result run(const std::vector<std::string>& args) {
#ifdef CORVANE_PROGRAM
  TempDir outputs;
  testsupport::ChildProcess tool(CORVANE_PROGRAM, args, outputs / "out", outputs / "err");
  const int code = tool.wait(std::chrono::seconds(60));  // a bound against a hang only
  return {code, tool.out(), tool.err()};
#else
  std::ostringstream out, err;
  const int code = run_cli(args, out, err);
  return {code, out.str(), err.str()};
#endif
}

std::string utf8(const fs::path& p) {
  const std::u8string text = p.u8string();
  return std::string(text.begin(), text.end());
}

Bytes patched(Bytes bytes, std::size_t offset, const Bytes& with) {
  std::copy(with.begin(), with.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
  return bytes;
}

// The folder every case starts from: good and damaged record files, lesson CSV files, an
// empty drop folder MailBank and an empty store folder. "@" in a case is "<folder>/".
class Scratch {
 public:
  Scratch() {
    const Bytes m = encode_record(EmailMsg{{}, 0, u"Tom", u"Ann", u"Bob; Cy", u"Lunch \u00e0 midi",
                                           {List<MsgText>::sized(0), {}}, {}, 45123.625});
    const std::size_t texts = 37;  // the list header after the signature, flag and texts
    put("mail.eml", m);
    put("long.eml", [&] { Bytes b = m; b.insert(b.end(), {'t', 'a', 'i', 'l'}); return b; }());
    put("cut.eml", Bytes(m.begin(), m.end() - 1));  // inside emDate
    put("empty.eml", {});
    put("to-length.eml", patched(m, 4, {0xFF, 0xFF}));
    put("list-count.eml", patched(m, texts + 2, {0xFF, 0xFF, 0xFF, 0x7F}));
    put("dimensions.eml", patched(m, texts, {2}));

    MsgPicture picture{u"logo.gif", 10, 20, kFalse, 1, List<Byte>::sized(0, {1, 2, 3})};
    const Bytes t = encode_record(MsgContents{List<MsgText>::sized(0), {}});
    const Bytes tp = encode_record(MsgContents{List<MsgText>::sized(0),
                                               List<MsgPicture>::sized(-2, {picture})});
    put("tmpl.tpl", tp);
    put("cut.tpl", Bytes(tp.begin(), tp.end() - 1));
    put("list-count.tpl", patched(t, 2, {0xFF, 0xFF, 0xFF, 0x7F}));

    const LessonChoice choice{u"Hello", u"Hi", u"Ann"};
    const Bytes l = encode_record(EmailLesson{
        List<LessonStep>::sized(0, {LessonStep{List<LessonChoice>::sized(0, {choice}), 1}})});
    put("lesson.les", l);
    put("cut.les", Bytes(l.begin(), l.end() - 1));
    put("dimensions.les", patched(l, 0, {2}));

    write_text(dir_ / "lesson.csv", "1,Ann,Hi,Hello\r\n");
    write_text(dir_ / "header.csv", "Step,From,Subject,Message\r\n");
    write_text(dir_ / "notes.txt", "attached");
    fs::create_directories(dir_ / "MailBank");
    fs::create_directories(dir_ / "store");
#ifndef _WIN32
    ::mkfifo((dir_ / "fifo").c_str(), 0600);
#endif
  }

  const fs::path& path() const { return dir_.path(); }

  std::string expand(const std::string& text) const {
    const char separator = static_cast<char>(fs::path::preferred_separator);
    return std::regex_replace(text, std::regex("@"), utf8(dir_.path()) + separator);
  }

  // The entries, '/' separated, with the bytes of the regular files (a FIFO is not read).
  std::map<std::string, std::optional<Bytes>> entries() const {
    std::map<std::string, std::optional<Bytes>> found;
    for (const auto& e : fs::recursive_directory_iterator(dir_.path())) {
      found[fs::relative(e.path(), dir_.path()).generic_string()] =
          e.is_regular_file() ? std::optional(read_bytes(e.path())) : std::nullopt;
    }
    return found;
  }

 private:
  void put(const std::string& name, const Bytes& bytes) { testsupport::write_bytes(dir_ / name, bytes); }
  TempDir dir_;
};

struct Case {
  const char* name;
  std::vector<std::string> args;
  int exit_code;
  // Standard output and error, exact; ending in "...": their beginning; <sent>: the sent
  // e-mail's path.
  std::string out;
  std::string err;
  // The entries added, changed or gone, in order: "<stem>" stands for the sent e-mail's unique
  // stem, "NAME=OTHER" is a file with the bytes of the scratch file OTHER.
  std::vector<std::string> changed = {};
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

bool matches(const std::string& pattern, const std::string& name) {
  const std::string dots = std::regex_replace(pattern, std::regex("\\."), "\\.");
  return std::regex_match(name, std::regex(std::regex_replace(dots, std::regex("<stem>"),
                                                              "[0-9]{13}-[0-9a-f]{16}")));
}

class CorvaneTool : public ::testing::TestWithParam<Case> {};

TEST_P(CorvaneTool, ExitCodeOutputAndFilesLeft) {
  const Case& c = GetParam();
  Scratch scratch;
  const auto before = scratch.entries();
  std::vector<std::string> args;
  for (const auto& a : c.args) args.push_back(scratch.expand(a));
  const Result r = run(args);
  EXPECT_EQ(r.code, c.exit_code) << r.err;

  const auto after = scratch.entries();
  std::vector<std::string> changed;
  for (const auto& [name, bytes] : after) {
    if (!before.contains(name) || before.at(name) != bytes) changed.push_back(name);
  }
  for (const auto& [name, bytes] : before) {
    if (!after.contains(name)) changed.push_back("gone: " + name);
  }
  ASSERT_EQ(changed.size(), c.changed.size()) << ::testing::PrintToString(changed);
  std::string sent;
  for (std::size_t i = 0; i < changed.size(); ++i) {
    const auto same_as = c.changed[i].find('=');
    EXPECT_TRUE(matches(c.changed[i].substr(0, same_as), changed[i])) << changed[i];
    if (same_as != std::string::npos) {
      EXPECT_EQ(after.at(changed[i]), before.at(c.changed[i].substr(same_as + 1)));
    }
    if (!changed[i].starts_with("MailBank/")) continue;
    sent = utf8((scratch.path() / changed[i]).make_preferred());
  }

  for (const auto& [actual, wanted] : {std::pair{r.out, c.out}, {r.err, c.err}}) {
    std::string text = scratch.expand(wanted);
    if (const auto at = text.find("<sent>"); at != std::string::npos) text.replace(at, 6, sent);
    const std::size_t compared = text.ends_with("...") ? text.size() - 3 : std::string::npos;
    EXPECT_EQ(actual.substr(0, compared), text.substr(0, compared));
  }
}

const std::string kUsage = "usage: corvane <command> [arguments]\n\ncommands:\n  dump-email FILE ...";
const std::string kSendUsage =
   "usage: corvane send DROP_FOLDER --from NAME --to NAME [--cc TEXT] --subject TEXT\n";
std::vector<std::string> send_with(std::vector<std::string> more, const char* drop = "@MailBank") {
  std::vector<std::string> args{"send", drop, "--from", "A", "--to", "T", "--subject", "S",
                                "--text", "T"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}
const std::string kTooLong(70000, 'x');  // longer than a record's text may be
const std::string kTooLongError =
    "corvane send: SaveEmail Error: \"Bad record length: a text of 70000 bytes is longer than the "
    "65535 bytes a record file can hold\" (59)\n";

// clang-format off
const Case kCases[] = {
  {"Help", {"help"}, 0, kUsage},
  {"DashDashHelp", {"--help"}, 0, kUsage},
  {"DashH", {"-h"}, 0, kUsage},
  {"DumpEmailHelp", {"dump-email", "--help"}, 0, "usage: corvane dump-email FILE\n..."},
  {"DumpTemplateHelp", {"dump-template", "@x", "--help"}, 0, "usage: corvane dump-template FILE\n..."},
  {"ShowLessonHelp", {"show-lesson", "--help"}, 0, "usage: corvane show-lesson FILE\n..."},
  {"ImportHelp", {"import-lesson", "--help"}, 0, "usage: corvane import-lesson CSV LESSON\n..."},
  {"SendHelp", {"send", "--help"}, 0, kSendUsage + "..."},
  {"NoArguments", {}, 64, "", kUsage},
  {"UnknownCommand", {"frobnicate"}, 64, "", "corvane: unknown command 'frobnicate'\n" + kUsage},
  {"NoFile", {"dump-email"}, 64, "",
   "corvane dump-email: expected 1 argument, got 0\nusage: corvane dump-email FILE\n..."},
  {"TwoFiles", {"dump-template", "@a", "@b"}, 64, "",
   "corvane dump-template: expected 1 argument, got 2\nusage: corvane dump-template FILE\n..."},
  {"ImportOneFile", {"import-lesson", "@lesson.csv"}, 64, "",
   "corvane import-lesson: expected 2 arguments, got 1\nusage: corvane import-lesson CSV LESSON\n..."},
  {"UnknownOption", {"show-lesson", "@lesson.les", "--colour", "red"}, 64, "",
   "corvane show-lesson: unknown option --colour\nusage: corvane show-lesson FILE\n..."},
  {"OptionWithEquals", {"send", "@MailBank", "--from=A"}, 64, "",
   "corvane send: unknown option --from=A\n" + kSendUsage + "..."},
  {"OptionWithoutValue", {"send", "@MailBank", "--from"}, 64, "",
   "corvane send: option --from needs a value\n" + kSendUsage + "..."},
  {"MissingSubject", {"send", "@MailBank", "--from", "A", "--to", "T", "--text", "x"}, 64, "",
   "corvane send: missing option --subject\n" + kSendUsage + "..."},
  {"ToTwice", send_with({"--to", "Bob"}), 64, "", "corvane send: option --to given twice\n" + kSendUsage + "..."},
  {"FromTwice", send_with({"--from", "Bob"}), 64, "", "corvane send: option --from given twice\n" + kSendUsage + "..."},
  {"AttachTwice", send_with({"--attach", "@a", "--attach", "@a"}), 64, "", "corvane send: option --attach given twice\n" + kSendUsage + "..."},
  {"SendUnknownOption", send_with({"--bcc", "Eve"}), 64, "",
   "corvane send: unknown option --bcc\n" + kSendUsage + "..."},
  {"MissingEmail", {"dump-email", "@none"}, 2, "", "corvane dump-email: @none: no such file\n"},
  {"MissingTemplate", {"dump-template", "@none"}, 2, "", "corvane dump-template: @none: no such file\n"},
  {"MissingLesson", {"show-lesson", "@none"}, 2, "", "corvane show-lesson: @none: no such file\n"},
  {"FolderToDump", {"dump-email", "@MailBank"}, 2, "", "corvane dump-email: @MailBank: not a regular file\n"},
  {"CutEmail", {"dump-email", "@cut.eml"}, 2, "",
   "corvane dump-email: @cut.eml: cut short: the file ends after 58 bytes, inside its record\n"},
  {"EmptyEmail", {"dump-email", "@empty.eml"}, 2, "", "corvane dump-email: @empty.eml: cut short: the file ends after 0 bytes, inside its record\n"},
  {"HugeTextLength", {"dump-email", "@to-length.eml"}, 2, "", "corvane dump-email: @to-length.eml: cut short: the file ends after 59 bytes, inside its record\n"},
  {"HugeListCount", {"dump-email", "@list-count.eml"}, 2, "",
   "corvane: cannot read @list-count.eml: error 7: Out of memory: a list at byte 37 claims "
   "2147483646 more elements than the file holds\n"},
  {"TwoDimensions", {"dump-email", "@dimensions.eml"}, 2, "",
   "corvane: cannot read @dimensions.eml: error 59: Bad record length: a list at byte 37 has 2 "
   "dimensions; record files hold one-dimensional lists only\n"},
  {"CutTemplate", {"dump-template", "@cut.tpl"}, 2, "", "corvane dump-template: @cut.tpl: cut short: the file ends after 53 bytes, inside its record\n"},
  {"HugeTemplateList", {"dump-template", "@list-count.tpl"}, 2, "",
   "corvane: cannot read @list-count.tpl: OpenTemplate: Corvane.MailObjectModel\r\nOut of memory: "
   "a list at byte 0 claims 2147483646 more elements than the file holds\n"},
  {"CutLesson", {"show-lesson", "@cut.les"}, 2, "", "corvane show-lesson: @cut.les: cut short: the file ends after 37 bytes, inside its record\n"},
  {"DamagedLesson", {"show-lesson", "@dimensions.les"}, 2, "",
   "error 51620: Error Opening Lesson:\r\nBad record length: a list at byte 0 has 2 dimensions; "
   "record files hold one-dimensional lists only\n"},
  {"Email", {"dump-email", "@mail.eml"}, 0,
   "Headers\r\n-------\r\nemCC: Bob; Cy\r\nemDate: 7/16/2023 3:00:00 PM\r\nemFrom: Ann\r\nPictures\r\n"
   "\r\nTexts\r\n\r\nemSubject: Lunch \xC3\xA0 midi\r\nemTo: Tom\r\n"},
  {"EmailWithAnOldTail", {"dump-email", "@long.eml"}, 0, "Headers\r\n-------\r\nemCC: Bob; Cy\r\n..."},
  {"Template", {"dump-template", "@tmpl.tpl"}, 0,
   "Pictures\r\n\t-2\r\n\tBorders: 1\r\n\tEditable: False\r\n\tFileName: logo.gif\r\n"
   "\tValue cannot be displayed...\r\n\tX: 10\r\n\tY: 20\r\n\r\nTexts\r\n"},
  {"Lesson", {"show-lesson", "@lesson.les"}, 0,
   "[@lesson.les]\r\nSteps:\r\n\tIndex: 1\tChoices: \r\n\t\tFrom: Ann\r\n\t\tSubject: Hi\r\n"
   "\t\tMessage: Hello\r\n_____\n"},
  {"Import", {"import-lesson", "@lesson.csv", "@new.les"}, 0, "", "", {"new.les=lesson.les"}},
  {"ImportMissingCsv", {"import-lesson", "@none.csv", "@new.les"}, 2, "", "error 53: File not found\n"},
  {"ImportNoLessonLine", {"import-lesson", "@header.csv", "@new.les"}, 1, "",
   "corvane: the lesson was not imported (a line of the CSV file is not a lesson line)\n"},
  {"ImportIntoNoFolder", {"import-lesson", "@lesson.csv", "@x/new.les"}, 1, "",
   "corvane: the lesson was not imported: Path not found\r\nCorvane.MailObjectModel\r\n76\n"},
  {"ImportFromFolder", {"import-lesson", "@store", "@new.les"}, 2, "",
   "corvane import-lesson: @store: not a regular file\n"},
  {"Send", send_with({}), 0, "<sent>\n", "", {"MailBank/<stem>.eml"}},
  {"SendIntoFolderWithSeparator", send_with({"--attach", "@notes.txt"}, "@MailBank/"), 0, "<sent>\n", "",
   {"Attachments", "Attachments/<stem>-notes.txt=notes.txt", "MailBank/<stem>.eml"}},
  {"SendWithAttachment", send_with({"--cc", "Cy", "--attach", "@notes.txt"}), 0, "<sent>\n", "",
   {"Attachments", "Attachments/<stem>-notes.txt=notes.txt", "MailBank/<stem>.eml"}},
  {"SendIntoNoFolder", send_with({}, "@none"), 2, "", "corvane send: drop folder @none does not exist\n"},
  {"SendMissingAttachment", send_with({"--attach", "@none"}), 2, "",
   "corvane send: attachment @none is not a readable file\n"},
  {"SendFolderAsAttachment", send_with({"--attach", "@store"}), 2, "",
   "corvane send: attachment @store is not a readable file\n"},
  {"SendTextTooLong", send_with({"--cc", kTooLong}), 2, "", kTooLongError},
  {"SendTextTooLongWithAttachment", send_with({"--cc", kTooLong, "--attach", "@notes.txt"}), 2, "",
   kTooLongError, {"Attachments"}},
#ifndef _WIN32
  {"FifoEmail", {"dump-email", "@fifo"}, 2, "", "corvane dump-email: @fifo: not a regular file\n"},
  {"FifoTemplate", {"dump-template", "@fifo"}, 2, "", "corvane dump-template: @fifo: not a regular file\n"},
  {"FifoLesson", {"show-lesson", "@fifo"}, 2, "", "corvane show-lesson: @fifo: not a regular file\n"},
  {"DeviceToDump", {"dump-email", "/dev/null"}, 2, "", "corvane dump-email: /dev/null: not a regular file\n"},
  {"ImportFromFifo", {"import-lesson", "@fifo", "@new.les"}, 2, "",
   "corvane import-lesson: @fifo: not a regular file\n"},
  {"ImportIntoFifo", {"import-lesson", "@lesson.csv", "@fifo"}, 2, "",
   "corvane import-lesson: @fifo: not a regular file\n"},
#endif
#ifdef CORVANE_WITH_CONSOLE
  {"ConsoleHelp", {"console", "--help"}, 0, "usage: corvane console STORE [--listen [ADDRESS:]PORT] ..."},
  {"ConsoleNoStore", {"console"}, 64, "",
   "corvane console: expected 1 argument, got 0\nusage: corvane console ..."},
  {"ConsoleListenTwice", {"console", "@store", "--listen", "0", "--listen", "0"}, 64, "",
   "corvane console: option --listen given twice\nusage: corvane console ..."},
  {"ConsoleMissingStore", {"console", "@none", "--token-file", "@t"}, 2, "",
   "corvane console: @none: no such folder\n"},
  {"ConsoleStoreIsAFile", {"console", "@mail.eml", "--token-file", "@t"}, 2, "",
   "corvane console: @mail.eml: no such folder\n"},
  {"ConsoleBadAddress", {"console", "@store", "--listen", "localhost:http", "--token-file", "@t"}, 2, "",
   "corvane console: the console's address is PORT or ADDRESS:PORT, not \"localhost:http\"\n"},
  {"ConsoleEmptyHostName", {"console", "@store", "--listen", "0", "--host", "a,,b"}, 2, "",
   "corvane console: the console's names are NAME[,NAME...], not \"a,,b\"\n"},
  {"ConsoleStateInsideTheStore", {"console", "@store", "--listen", "0.0.0.0:0", "--state", "@store/s",
   "--token-file", "@t"}, 2, "",
   "corvane console: the console's state folder @store/s lies inside the store; give one outside it\n"},
  {"ConsoleUsersInsideTheStore", {"console", "@store", "--listen", "0", "--users-file", "@store/u",
   "--token-file", "@t"}, 2, "",
   "corvane console: the teachers' accounts file @store/u lies inside the store; give one outside it\n"},
  {"ConsoleCertificateWithoutKey", {"console", "@store", "--listen", "0", "--cert", "@mail.eml",
   "--token-file", "@t"}, 2, "", "corvane console: the console's certificate and key are given together\n"},
  {"ConsoleCertificateNotPem", {"console", "@store", "--listen", "0", "--cert", "@mail.eml", "--key",
   "@mail.eml", "--token-file", "@t"}, 2, "", "corvane console: no usable certificate in @mail.eml: error:..."},
#endif
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Commands, CorvaneTool, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The e-mail sent reads back through the library as the options describe it, with the copy of
// the attachment beside the drop folder under the e-mail's stem; each send has its own name.
TEST(CorvaneToolSend, WritesTheEmailTheOptionsDescribe) {
  TempDir dir;
  fs::create_directories(dir / "MailBank");
  write_text(dir / "notes.txt", "attached");
  const Result sent = run({"send", utf8(dir / "MailBank"), "--from", "Ann", "--to", "Tom", "--cc",
                           "Cid", "--subject", "Hi \xC3\xA9", "--text", "Hello", "--attach",
                           utf8(dir / "notes.txt")});
  ASSERT_EQ(sent.code, 0) << sent.err;
  const fs::path file(sent.out.substr(0, sent.out.size() - 1));
  const auto [email, failure] = MailObjectModel().OpenEmail(testsupport::u16(file));
  ASSERT_FALSE(failure);
  MsgText box;
  box.Width = 400;
  box.Height = 300;
  box.Font = {u"Arial", u"0", kFalse, kFalse, kFalse, kFalse, 10, 400};
  box.Value = u"Hello";
  const fs::path copy = dir / "Attachments" / (file.stem().string() + "-notes.txt");
  const EmailMsg expected{{'C', 'V', '1'}, 0, u"Tom", u"Ann", u"Cid", u"Hi \u00e9",
                          {List<MsgText>::sized(0, {box}), {}}, {testsupport::u16(copy)},
                          email.emDate};
  EXPECT_EQ(email, expected);
  EXPECT_GT(email.emDate, 45000.0);  // today, not the empty date
  EXPECT_EQ(read_bytes(copy), read_bytes(dir / "notes.txt"));
  EXPECT_NE(run(send_with({}, utf8(dir / "MailBank").c_str())).out, sent.out);
}

#ifdef CORVANE_PROGRAM
// The copy of the attachment is cut short by the file-size limit, as by a full disk: nothing is
// left under any name, and no e-mail is sent.
TEST(CorvaneToolSend, LeavesNoCutAttachmentBehind) {
  TempDir dir;
  fs::create_directories(dir / "MailBank");
  write_text(dir / "big.bin", std::string(256 * 1024, 'b'));
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 64 * 1024;
  ::signal(SIGXFSZ, SIG_IGN);  // inherited: the tool's write fails instead of killing it
  ::setrlimit(RLIMIT_FSIZE, &small);
  testsupport::ChildProcess tool(CORVANE_PROGRAM, send_with({"--attach", utf8(dir / "big.bin")},
                                 utf8(dir / "MailBank").c_str()), dir / "out", dir / "err");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, SIG_DFL);
  EXPECT_EQ(tool.wait(std::chrono::seconds(60)), 2);
  EXPECT_TRUE(tool.err().starts_with("corvane send: ")) << tool.err();
  EXPECT_TRUE(fs::is_empty(dir / "MailBank"));
  EXPECT_TRUE(!fs::exists(dir / "Attachments") || fs::is_empty(dir / "Attachments"));
  EXPECT_FALSE(fs::exists(dir / ".corvane-tmp"));
}
#endif

#if defined(CORVANE_PROGRAM) && defined(CORVANE_WITH_CONSOLE)
// The status line answered to a GET on the loopback port.
std::string status_line(int port, const std::string& target) {
  sorter::console::testing::RawClient client(port);
  client.send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n");
  return sorter::console::testing::status_line(client.answer());
}

// The console as a program: it tells its address and token once it serves, keeps the token in
// a file only its user reads, serves the store, and ends with exit 0 on SIGTERM.
TEST(CorvaneToolConsole, ServesTheStoreUntilSigterm) {
  TempDir dir;
  const std::string token_file = utf8(dir / "token");
  testsupport::ChildProcess console(
      CORVANE_PROGRAM, {"console", utf8(dir.path()), "--listen", "127.0.0.1:0", "--token-file",
                        token_file}, dir / "out", dir / "err");
  ASSERT_TRUE(testsupport::eventually([&] { return console.out().ends_with("stops it\n"); }))
      << console.err();
  std::smatch told;
  const std::string out = console.out();
  ASSERT_TRUE(std::regex_match(out, told, std::regex(
      "store console for " + utf8(dir.path()) + " at http://127\\.0\\.0\\.1:([0-9]+)/\n"
      "access token ([0-9a-f]{32}) \\(kept in " + token_file + "\\)\nCtrl-C stops it\n")))
      << out;
  EXPECT_EQ(testsupport::read_text(token_file), told[2].str() + "\n");
  struct stat token {};
  ASSERT_EQ(::stat(token_file.c_str(), &token), 0);
  EXPECT_EQ(token.st_mode & 0777, 0600u);
  EXPECT_EQ(status_line(std::stoi(told[1]), "/login"), "HTTP/1.1 200 OK");
  console.signal(SIGTERM);
  EXPECT_EQ(console.wait(), 0);
  EXPECT_EQ(console.err(), "");
}

// The teachers' accounts as an administrator keeps them, step by step: the command, the
// password on standard input, what it says ("@" is the users file), and at the end the file
// that only its owner reads, whose hash takes the last password given.
TEST(CorvaneToolConsoleUser, AddsReplacesListsAndRemovesAccounts) {
  TempDir dir;
  const std::string users = utf8(dir / "users");
  const struct {
    std::vector<std::string> args;
    const char* input;
    int code;
    const char* out;
    const char* err;  // the start of standard error
  } steps[] = {
      {{"add", "ms.lee"}, "a long password\n", 0, "added ms.lee in @\n", ""},
      {{"add", "mr.kay"}, "another password\r\n", 0, "added mr.kay in @\n", ""},
      {{"add", "ms.lee"}, "a new password!\r\nignored\n", 0, "new password for ms.lee in @\n", ""},
      {{"list"}, "", 0, "mr.kay\nms.lee\n", ""},
      {{"add", "ann"}, "too short\n", 2, "",
       "corvane console-user add: a password has at least 10 characters\n"},
      {{"add", "ann"}, "", 2, "", "corvane console-user add: no password given\n"},
      {{"add", "ann:x"}, "a long password\n", 64, "",
       "corvane console-user add: a teacher's name is 1 to 32 letters, digits, '.', '_' or '-', "
       "not \"ann:x\"\nusage: corvane console-user add NAME"},
      {{"remove", "mr.kay"}, "", 0, "removed mr.kay from @\n", ""},
      {{"remove", "mr.kay"}, "", 2, "", "corvane console-user remove: no account mr.kay in @\n"},
      {{"rename"}, "", 64, "",
       "corvane console-user: unknown subcommand \"rename\"; add, remove or list\n"},
      {{"list"}, "", 0, "ms.lee\n", ""},
  };
  const auto with_file = [&](std::string text) {
    for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, users);
    return text;
  };
  for (const auto& step : steps) {
    write_text(dir / "input", step.input);
    std::vector<std::string> args = {"console-user"};
    args.insert(args.end(), step.args.begin(), step.args.end());
    args.insert(args.end(), {"--users-file", users});
    testsupport::ChildProcess tool(CORVANE_PROGRAM, args, dir / "out", dir / "err", dir / "input");
    const std::string what = step.args[0] + (step.args.size() > 1 ? " " + step.args[1] : "");
    EXPECT_EQ(tool.wait(std::chrono::seconds(60)), step.code) << what << ": " << tool.err();
    EXPECT_EQ(tool.out(), with_file(step.out)) << what;
    EXPECT_TRUE(tool.err().starts_with(with_file(step.err))) << what << ": " << tool.err();
  }
  struct stat st {};
  ASSERT_EQ(::stat(users.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const auto accounts = sorter::console::read_accounts(users);
  ASSERT_EQ(accounts.size(), 1u);
  EXPECT_TRUE(sorter::console::password_matches(accounts.at("ms.lee"), "a new password!"));
}

// Off a loopback address the console speaks HTTPS with a certificate made in its state folder
// (the key readable by its owner only), and prints the fingerprint of the certificate that
// clients get; a second start keeps the certificate.
TEST(CorvaneToolConsole, OffLoopbackServesHttpsWithTheFingerprintItPrints) {
  TempDir dir;
  fs::create_directories(dir / "store");
  std::string printed;
  for (int start = 0; start < 2; ++start) {
    testsupport::ChildProcess console(
        CORVANE_PROGRAM, {"console", utf8(dir / "store"), "--listen", "0.0.0.0:0", "--state",
                          utf8(dir / "state"), "--token-file", utf8(dir / "token")},
        dir / "out", dir / "err");
    ASSERT_TRUE(testsupport::eventually([&] { return console.out().ends_with("stops it\n"); }))
        << console.err();
    std::smatch told;
    const std::string out = console.out();
    ASSERT_TRUE(std::regex_search(out, told, std::regex(
        " at https://0\\.0\\.0\\.0:([0-9]+)/\ncertificate SHA-256 ((?:[0-9A-F]{2}:){31}[0-9A-F]{2})\n")))
        << out;
    EXPECT_EQ(sorter::console::testing::RawClient(std::stoi(told[1]), "127.0.0.1", true).fingerprint(),
              told[2].str());
    if (start == 1) EXPECT_EQ(told[2].str(), printed) << "the certificate is kept";
    printed = told[2];
    console.signal(SIGTERM);
    EXPECT_EQ(console.wait(), 0);
  }
  struct stat key {};
  ASSERT_EQ(::stat(utf8(dir / "state" / "console-key.pem").c_str(), &key), 0);
  EXPECT_EQ(key.st_mode & 0777, 0600u);
}

// Without --listen the console takes the loopback port 8080, never an address pupils reach: it
// serves there, or says it cannot when that port is taken.
TEST(CorvaneToolConsole, ListensOnLoopback8080ByDefault) {
  TempDir dir;
  testsupport::ChildProcess console(
      CORVANE_PROGRAM, {"console", utf8(dir.path()), "--token-file", utf8(dir / "token")},
      dir / "out", dir / "err");
  const auto told = [&] { return console.out().ends_with("stops it\n"); };
  ASSERT_TRUE(testsupport::eventually([&] { return told() || !console.err().empty(); }));
  if (told()) {
    EXPECT_NE(console.out().find(" at http://127.0.0.1:8080/\n"), std::string::npos);
    console.signal(SIGTERM);
    EXPECT_EQ(console.wait(), 0);
  } else {
    EXPECT_EQ(console.wait(), 2);
    EXPECT_EQ(console.err(), "corvane console: cannot listen on 127.0.0.1:8080\n");
  }
}
#endif

}  // namespace
}  // namespace corvane::cli
