#include "sorter/headless/options.h"

#include <cmath>
#include <cstdlib>

namespace sorter::headless {

std::string usage(std::string_view program) {
  const std::string indent(std::string("usage: ").size() + program.size(), ' ');
  return "usage: " + std::string(program) +
         " [--store DIR] [--interval SECONDS] [--no-instant] [--run-anyway]\n" + indent +
         " [--once]"
         " [--console [ADDRESS:]PORT] [--console-token-file FILE]\n" + indent +
         " [--console-host NAME[,NAME...]] [--console-cert FILE --console-key FILE]\n" +
         indent + " [--console-state DIR] [--console-users FILE] [--console-notice-from NAME]\n"
         "  --store DIR         the mail store (default: the program's folder)\n"
         "  --interval SECONDS  time between sorting rounds (default: 10)\n"
         "  --no-instant        sort only every --interval, not also as soon as a file\n"
         "                      arrives in MailBank (as Sorter.ini's [Delivery] instant=False)\n"
         "  --run-anyway        start although Sorter.ini says another sorter is running\n"
         "  --once              run one round and stop\n"
         "  --console [ADDRESS:]PORT\n"
         "                      serve the store console (address 127.0.0.1 unless given)\n"
         "  --console-token-file FILE\n"
         "                      keep the console's access token in FILE (default: the runtime\n"
         "                      folder, corvane-console-PORT.token)\n"
         "  --console-host NAME[,NAME...]\n"
         "                      names the console answers to besides its addresses, localhost\n"
         "                      and this machine's name\n"
         "  --console-cert FILE, --console-key FILE\n"
         "                      serve the console over HTTPS with this PEM certificate and key\n"
         "                      (off a loopback address it is HTTPS anyway, with a self-signed\n"
         "                      certificate made once in the state folder)\n"
         "  --console-state DIR the console's state folder, outside the store (default:\n"
         "                      $STATE_DIRECTORY, else ~/.local/state/corvane)\n"
         "  --console-users FILE\n"
         "                      the teachers' accounts (default: console-users in the state\n"
         "                      folder; made by corvane console-user)\n"
         "  --console-notice-from NAME\n"
         "                      the sender of the notice a rejected e-mail's sender gets\n"
         "                      (default: the teacher's name)\n";
}

namespace {

double parse_interval(const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value) ||
      value < 0.1 || value > 86400.0) {
    throw std::invalid_argument("--interval wants a number of seconds from 0.1 to 86400, not \"" +
                                text + "\"");
  }
  return value;
}

}  // namespace

Options parse_options(const std::vector<std::string>& args) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw std::invalid_argument(arg + " wants a value");
      return args[++i];
    };
    if (arg == "--store") {
      options.store = value();
      if (options.store->empty()) throw std::invalid_argument("--store wants a folder");
    } else if (arg == "--interval") {
      options.interval_seconds = parse_interval(value());
    } else if (arg == "--no-instant") {
      options.instant = false;
    } else if (arg == "--run-anyway") {
      options.run_anyway = true;
    } else if (arg == "--once") {
      options.once = true;
    } else if (arg == "--console") {
      options.console = value();
      if (options.console->empty()) throw std::invalid_argument("--console wants a port");
    } else if (arg == "--console-token-file") {
      options.console_token_file = value();
      if (options.console_token_file->empty()) {
        throw std::invalid_argument("--console-token-file wants a file");
      }
    } else if (arg == "--console-host") {
      options.console_host_names = value();
    } else if (arg == "--console-cert" || arg == "--console-key" || arg == "--console-state" ||
               arg == "--console-users" || arg == "--console-notice-from") {
      auto& target = arg == "--console-cert"    ? options.console_cert
                     : arg == "--console-key"   ? options.console_key
                     : arg == "--console-state" ? options.console_state
                     : arg == "--console-users" ? options.console_users
                                                : options.console_notice_from;
      target = value();
      if (target->empty()) throw std::invalid_argument(arg + " wants a value");
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else {
      throw std::invalid_argument("unknown option \"" + arg + "\"");
    }
  }
  return options;
}

}  // namespace sorter::headless
