#pragma once
// The `corvane` command-line tool, callable in-process: args are the arguments after the
// program name, in UTF-8; output and messages go to out and err. Returns the exit code:
//   0  done
//   1  the operation answered False (import-lesson)
//   2  the operation failed: a file that cannot be read or written, an error raised
//  64  bad arguments

#include <ostream>
#include <string>
#include <vector>

namespace corvane::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFalse = 1;
inline constexpr int kExitFailed = 2;
inline constexpr int kExitUsage = 64;

int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace corvane::cli
