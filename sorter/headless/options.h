#pragma once
// The command line of the headless sorter:
//   sorter [--store DIR] [--interval SECONDS] [--no-instant] [--run-anyway] [--once]
//          [--console [ADDRESS:]PORT] [--console-token-file FILE] [--console-host NAMES]
//          [--console-cert FILE --console-key FILE] [--console-state DIR]
//          [--console-users FILE] [--console-notice-from NAME]
//          [--help]

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sorter::headless {

struct Options {
  std::optional<std::string> store;  // the program folder by default
  double interval_seconds = 10.0;
  bool instant = true;  // a round as soon as a file arrives, unless Sorter.ini says otherwise
  bool run_anyway = false;
  bool once = false;
  bool help = false;
  std::optional<std::string> console;             // the store console's [ADDRESS:]PORT
  std::optional<std::string> console_token_file;  // where its access token is kept
  std::optional<std::string> console_host_names;  // NAME[,NAME...] it also answers to
  std::optional<std::string> console_cert;        // the administrator's PEM certificate
  std::optional<std::string> console_key;         // and its key
  std::optional<std::string> console_state;       // where a self-signed certificate is kept
  std::optional<std::string> console_users;       // the teachers' accounts
  std::optional<std::string> console_notice_from; // who rejection notices come from
};

// Throws std::invalid_argument with a message for the user.
Options parse_options(const std::vector<std::string>& args);

// The --help text; program is the name the sorter was started by (its installed name may
// differ from the build's).
std::string usage(std::string_view program);

}  // namespace sorter::headless
