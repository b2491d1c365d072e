#pragma once
// `corvane console-user add|remove NAME` and `corvane console-user list`: the teachers'
// accounts of the store console, in the users file that the console reads.

#include <ostream>

#include "tools/cli_args.h"

namespace corvane::cli {

inline constexpr const char* kConsoleUserHelp =
    "usage: corvane console-user add NAME [--users-file FILE] [--state DIR]\n"
    "       corvane console-user remove NAME [--users-file FILE] [--state DIR]\n"
    "       corvane console-user list [--users-file FILE] [--state DIR]\n"
    "Adds a teacher's account to the store console (or gives it a new password), removes one,\n"
    "or lists the names. add reads the password from the terminal (twice) or the first line of\n"
    "standard input; at least 10 characters. The file keeps an Argon2id hash of it, mode 0600;\n"
    "a new file takes its folder's owner. FILE defaults to console-users in the console's state\n"
    "folder DIR (default: $STATE_DIRECTORY, else ~/.local/state/corvane). A running console\n"
    "reads the file again when it changes; a removed teacher's sessions end.\n";

int console_user_usage(const ParsedArgs& args, std::ostream& out, std::ostream& err);
int console_user_add(const ParsedArgs& args, std::ostream& out, std::ostream& err);
int console_user_remove(const ParsedArgs& args, std::ostream& out, std::ostream& err);
int console_user_list(const ParsedArgs& args, std::ostream& out, std::ostream& err);

}  // namespace corvane::cli
