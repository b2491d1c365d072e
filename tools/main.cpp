// Entry point of the `corvane` tool: hands the arguments, as UTF-8, to run_cli.

#include <iostream>
#include <string>
#include <vector>

#include "platform/utf.h"
#include "tools/cli.h"

#ifdef _WIN32
// Wide arguments keep every character of a file name.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg(argv[i]);
    args.push_back(platform::to_utf8(std::u16string(arg.begin(), arg.end())));
  }
  return corvane::cli::run_cli(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
  return corvane::cli::run_cli(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                               std::cerr);
}
#endif
