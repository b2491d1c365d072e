#pragma once
// Argument parsing for the tool's commands: positional arguments and `--name value` options,
// each option at most once. Errors throw UsageError with a message for the user.

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane::cli {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ParsedArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
  bool help = false;

  std::optional<std::string> option(const std::string& name) const;
  // The value of an option that must be given.
  const std::string& required(const std::string& name) const;
};

// Parses args against the option names the command accepts (without the leading dashes) and
// the exact number of positional arguments it takes. "--help" anywhere sets help and skips the
// other checks.
ParsedArgs parse_args(const std::vector<std::string>& args, const std::set<std::string>& options,
                      std::size_t positional_count);

}  // namespace corvane::cli
