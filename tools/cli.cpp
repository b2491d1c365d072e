// The commands of the `corvane` tool: dump-email, dump-template, show-lesson, import-lesson
// and send.

#include "tools/cli.h"

#include <filesystem>
#include <functional>
#include <map>

#include "corvane/lesson/lesson_display.h"
#include "corvane/mail/debug_dump.h"
#include "corvane/model/record_codec.h"
#include "corvane/object_model/mail_object_model.h"
#include "platform/automation_error.h"
#include "platform/utf.h"
#include "tools/cli_args.h"
#include "tools/send_command.h"
#ifdef CORVANE_WITH_CONSOLE
#include "tools/console_command.h"
#include "tools/console_user_command.h"
#endif

namespace corvane::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: corvane <command> [arguments]\n"
    "\n"
    "commands:\n"
    "  dump-email FILE         print the debug text of an e-mail file\n"
    "  dump-template FILE      print the debug text of a template file\n"
    "  show-lesson FILE        print the display text of a lesson file\n"
    "  import-lesson CSV LESSON\n"
    "                          import a lesson CSV file into a lesson file\n"
    "  send DROP_FOLDER --from NAME --to NAME [--cc TEXT] --subject TEXT --text TEXT\n"
    "       [--attach FILE]    write an e-mail into a drop folder\n"
#ifdef CORVANE_WITH_CONSOLE
    "  console STORE [--listen [ADDRESS:]PORT] [--token-file FILE] [--host NAME[,NAME...]]\n"
    "                          serve the store console, without sorting\n"
    "  console-user add|remove NAME | console-user list [--users-file FILE]\n"
    "                          the teachers' accounts of the store console\n"
#endif
    "\n"
    "'corvane <command> --help' describes one command.\n"
    "exit codes: 0 done, 1 import answered False, 2 failed, 64 bad arguments\n";

struct Command {
  const char* help;
  std::set<std::string> options;
  std::size_t positional_count;
  std::function<int(const ParsedArgs&, std::ostream&, std::ostream&)> run;
};

Text text_of(const std::string& utf8) { return platform::from_utf8(utf8); }
fs::path path_of(const std::string& utf8) { return fs::path(platform::from_utf8(utf8)); }

// Prints a text exactly, piece by piece as it is written; a text that does not end its last
// line gets a line feed so that the shell prompt starts on a line of its own.
class TextPrinter {
 public:
  explicit TextPrinter(std::ostream& out) : out_(out) {}
  ~TextPrinter() {
    if (last_ != u'\n') out_ << '\n';
  }
  TextPrinter(const TextPrinter&) = delete;
  TextPrinter& operator=(const TextPrinter&) = delete;
  void operator()(std::u16string_view piece) {
    if (piece.empty()) return;
    out_ << platform::to_utf8(piece);
    last_ = piece.back();
  }

 private:
  std::ostream& out_;
  char16_t last_ = 0;
};

void print_text(std::ostream& out, const Text& text) {
  TextPrinter printer(out);
  printer(text);
}

// The reading operations create a missing file, and a FIFO or device would block them or
// feed them without end: the tool takes regular files only.
void require_regular_file(const std::string& file) {
  std::error_code ec;
  const fs::file_status status = fs::status(path_of(file), ec);
  if (!fs::exists(status)) throw CommandError(file + ": no such file");
  if (!fs::is_regular_file(status)) throw CommandError(file + ": not a regular file");
}

// A file the tool is to write may be missing, but when it exists it must be a regular file.
void require_regular_file_or_none(const std::string& file) {
  std::error_code ec;
  const fs::file_status status = fs::status(path_of(file), ec);
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    throw CommandError(file + ": not a regular file");
  }
}

// The library reads a file that ends inside its record as if zero bytes followed, as the
// sorter must; a dump of it would show fields the file does not hold. Texts convert back byte
// for byte, so a record whose encoding is longer than the file was read from a cut file.
template <Record R>
void require_whole_record(const std::string& file, const R& record) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path_of(file), ec);
  if (!ec && encode_record(record).size() > size) {
    throw CommandError(file + ": cut short: the file ends after " + std::to_string(size) +
                       " bytes, inside its record");
  }
}

int dump_email(const ParsedArgs& a, std::ostream& out, std::ostream& err) {
  const std::string& file = a.positional[0];
  require_regular_file(file);
  MailObjectModel model;
  const auto [email, failure] = model.OpenEmail(text_of(file));
  if (failure) {
    err << "corvane: cannot read " << file << ": error " << failure->number() << ": "
        << platform::to_utf8(failure->description()) << '\n';
    return kExitFailed;
  }
  require_whole_record(file, email);
  TextPrinter printer(out);
  write_email_dump(email, std::ref(printer));
  return kExitOk;
}

int dump_template(const ParsedArgs& a, std::ostream& out, std::ostream& err) {
  const std::string& file = a.positional[0];
  require_regular_file(file);
  MailObjectModel model;
  const MsgContents contents = model.OpenTemplate(text_of(file));
  if (!model.ErrorString().empty()) {
    err << "corvane: cannot read " << file << ": " << platform::to_utf8(model.ErrorString())
        << '\n';
    return kExitFailed;
  }
  require_whole_record(file, contents);
  TextPrinter printer(out);
  write_template_dump(contents, std::ref(printer));
  return kExitOk;
}

int show_lesson(const ParsedArgs& a, std::ostream& out, std::ostream&) {
  const std::string& file = a.positional[0];
  require_regular_file(file);
  MailObjectModel model;
  const Text path = text_of(file);
  const EmailLesson lesson = model.OpenLesson(path);
  require_whole_record(file, lesson);
  TextPrinter printer(out);
  write_lesson_display(path, lesson, std::ref(printer));
  return kExitOk;
}

int import_lesson(const ParsedArgs& a, std::ostream&, std::ostream& err) {
  require_regular_file_or_none(a.positional[0]);  // a missing one is the import's own error
  require_regular_file_or_none(a.positional[1]);
  MailObjectModel model;
  if (model.ConvertCSV2Lesson(text_of(a.positional[0]), text_of(a.positional[1]))) {
    return kExitOk;
  }
  err << "corvane: the lesson was not imported";
  if (!model.ErrorString().empty()) {
    err << ": " << platform::to_utf8(model.ErrorString());
  } else {
    err << " (a line of the CSV file is not a lesson line)";
  }
  err << '\n';
  return kExitFalse;
}

int send(const ParsedArgs& a, std::ostream& out, std::ostream&) {
  SendRequest request;
  request.drop_folder = path_of(a.positional[0]);
  request.from = text_of(a.required("from"));
  request.to = text_of(a.required("to"));
  request.cc = text_of(a.option("cc").value_or(""));
  request.subject = text_of(a.required("subject"));
  request.text = text_of(a.required("text"));
  if (const auto attachment = a.option("attach")) request.attachment = path_of(*attachment);
  MailObjectModel model;
  const fs::path written = send_email(model, request);
  const auto text = written.u16string();
  print_text(out, Text(text.begin(), text.end()));
  return kExitOk;
}

const std::map<std::string, Command>& commands() {
  static const std::map<std::string, Command> table = {
      {"dump-email",
       {"usage: corvane dump-email FILE\n"
        "Prints the debug text of the e-mail file FILE (UTF-8). The file must exist and\n"
        "hold a whole record.\n",
        {}, 1, dump_email}},
      {"dump-template",
       {"usage: corvane dump-template FILE\n"
        "Prints the debug text of the template file FILE (UTF-8). The file must exist and\n"
        "hold a whole record.\n",
        {}, 1, dump_template}},
      {"show-lesson",
       {"usage: corvane show-lesson FILE\n"
        "Prints the display text of the lesson file FILE (UTF-8). The file must exist and\n"
        "hold a whole record.\n",
        {}, 1, show_lesson}},
      {"import-lesson",
       {"usage: corvane import-lesson CSV LESSON\n"
        "Imports the lesson CSV file CSV into the lesson file LESSON.\n"
        "Exit 0 when imported; 1 when the import answered False (a line that is not a lesson\n"
        "line, or a lesson file that cannot be written); 2 when it failed with an error.\n",
        {}, 2, import_lesson}},
      {"send",
       {"usage: corvane send DROP_FOLDER --from NAME --to NAME [--cc TEXT] --subject TEXT\n"
        "                    --text TEXT [--attach FILE]\n"
        "Writes an e-mail with one text box into DROP_FOLDER and prints its path. The file\n"
        "is written in the folder .corvane-tmp beside DROP_FOLDER and then renamed into it,\n"
        "so the sorter never sees a partial file. --attach copies FILE into the folder\n"
        "Attachments beside DROP_FOLDER and records the copy's path in the e-mail.\n",
        {"from", "to", "cc", "subject", "text", "attach"}, 1, send}},
#ifdef CORVANE_WITH_CONSOLE
      {"console",
       {kConsoleHelp, {"listen", "token-file", "host", "cert", "key", "state", "users-file",
                       "notice-from"}, 1,
        run_console_command}},
      {"console-user", {kConsoleUserHelp, {"users-file", "state"}, 1, console_user_usage}},
      {"console-user add", {kConsoleUserHelp, {"users-file", "state"}, 1, console_user_add}},
      {"console-user remove", {kConsoleUserHelp, {"users-file", "state"}, 1, console_user_remove}},
      {"console-user list", {kConsoleUserHelp, {"users-file", "state"}, 0, console_user_list}},
#endif
  };
  return table;
}

int run_command(const Command& command, const std::vector<std::string>& rest,
                std::ostream& out, std::ostream& err) {
  const ParsedArgs parsed = parse_args(rest, command.options, command.positional_count);
  if (parsed.help) {
    out << command.help;
    return kExitOk;
  }
  return command.run(parsed, out, err);
}

}  // namespace

int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kUsage;
    return kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    out << kUsage;
    return kExitOk;
  }
  // Commands of two words ("console-user add") before those of one.
  auto command = args.size() > 1 ? commands().find(args[0] + " " + args[1]) : commands().end();
  const std::size_t words = command == commands().end() ? 1 : 2;
  if (command == commands().end()) command = commands().find(args[0]);
  if (command == commands().end()) {
    err << "corvane: unknown command '" << args[0] << "'\n" << kUsage;
    return kExitUsage;
  }
  try {
    return run_command(command->second,
                       {args.begin() + static_cast<std::ptrdiff_t>(words), args.end()}, out, err);
  } catch (const UsageError& e) {
    err << "corvane " << command->first << ": " << e.what() << "\n" << command->second.help;
    return kExitUsage;
  } catch (const CommandError& e) {
    err << "corvane " << command->first << ": " << e.what() << '\n';
  } catch (const platform::AutomationError& e) {
    err << "error " << e.number() << ": " << platform::to_utf8(e.description()) << '\n';
  } catch (const std::exception& e) {
    err << "corvane " << command->first << ": " << e.what() << '\n';
  }
  return kExitFailed;
}

}  // namespace corvane::cli
