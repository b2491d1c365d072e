#pragma once
// `corvane console STORE`: the store console without a sorter, for looking at a store that
// another sorter (for example the Windows tray program) serves.

#include <ostream>

#include "tools/cli_args.h"

namespace corvane::cli {

inline constexpr const char* kConsoleHelp =
    "usage: corvane console STORE [--listen [ADDRESS:]PORT] [--token-file FILE]\n"
    "                             [--host NAME[,NAME...]]\n"
    "Serves the store console for the mail store in STORE until Ctrl-C, without sorting.\n"
    "--listen defaults to 127.0.0.1:8080 (a port alone means 127.0.0.1). The access token is\n"
    "printed at start and kept in FILE (default: the runtime folder,\n"
    "corvane-console-PORT.token), readable by this user only. The console answers to its\n"
    "addresses, localhost, this machine's name and the names --host gives.\n";

int run_console_command(const ParsedArgs& args, std::ostream& out, std::ostream& err);

}  // namespace corvane::cli
