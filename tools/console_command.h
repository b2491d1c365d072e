#pragma once
// `corvane console STORE`: the store console without a sorter, for looking at a store that
// another sorter (for example the Windows tray program) serves.

#include <ostream>

#include "tools/cli_args.h"

namespace corvane::cli {

inline constexpr const char* kConsoleHelp =
    "usage: corvane console STORE [--listen [ADDRESS:]PORT] [--token-file FILE]\n"
    "                             [--host NAME[,NAME...]] [--cert FILE --key FILE]\n"
    "                             [--state DIR] [--users-file FILE] [--notice-from NAME]\n"
    "Serves the store console for the mail store in STORE until Ctrl-C, without sorting.\n"
    "--listen defaults to 127.0.0.1:8080 (a port alone means 127.0.0.1). The access token is\n"
    "printed at start and kept in FILE (default: the runtime folder,\n"
    "corvane-console-PORT.token), readable by this user only. The console answers to its\n"
    "addresses, localhost, this machine's name and the names --host gives.\n"
    "On any address but a loopback one it speaks HTTPS only: with the PEM certificate and key\n"
    "given, else with a self-signed certificate made once in the state folder DIR (default:\n"
    "$STATE_DIRECTORY, else ~/.local/state/corvane; never inside the store). Its SHA-256\n"
    "fingerprint is printed at start. Teachers log in with the accounts of --users-file\n"
    "(default: DIR/console-users, see corvane console-user); the access token logs in on a\n"
    "loopback address, and anywhere before the first account exists. A rejected e-mail's\n"
    "sender is told in an e-mail from the teacher, or from NAME with --notice-from.\n";

int run_console_command(const ParsedArgs& args, std::ostream& out, std::ostream& err);

}  // namespace corvane::cli
