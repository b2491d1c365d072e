#pragma once
// The command line of the headless sorter:
//   sorter [--store DIR] [--interval SECONDS] [--run-anyway] [--once] [--help]

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sorter::headless {

struct Options {
  std::optional<std::string> store;  // the program folder by default
  double interval_seconds = 10.0;
  bool run_anyway = false;
  bool once = false;
  bool help = false;
};

// Throws std::invalid_argument with a message for the user.
Options parse_options(const std::vector<std::string>& args);

extern const char* const kUsage;

}  // namespace sorter::headless
