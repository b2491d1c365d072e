#include "tools/cli_args.h"

#include <algorithm>

namespace corvane::cli {

std::optional<std::string> ParsedArgs::option(const std::string& name) const {
  const auto it = options.find(name);
  if (it == options.end()) return std::nullopt;
  return it->second;
}

const std::string& ParsedArgs::required(const std::string& name) const {
  const auto it = options.find(name);
  if (it == options.end()) throw UsageError("missing option --" + name);
  return it->second;
}

ParsedArgs parse_args(const std::vector<std::string>& args, const std::set<std::string>& options,
                      std::size_t positional_count) {
  ParsedArgs parsed;
  if (std::find(args.begin(), args.end(), "--help") != args.end()) {
    parsed.help = true;
    return parsed;
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      parsed.positional.push_back(arg);
      continue;
    }
    const std::string name = arg.substr(2);
    if (options.count(name) == 0) throw UsageError("unknown option " + arg);
    if (i + 1 >= args.size()) throw UsageError("option " + arg + " needs a value");
    if (!parsed.options.emplace(name, args[++i]).second) {
      throw UsageError("option " + arg + " given twice");
    }
  }
  if (parsed.positional.size() != positional_count) {
    throw UsageError("expected " + std::to_string(positional_count) + " argument" +
                     (positional_count == 1 ? "" : "s") + ", got " +
                     std::to_string(parsed.positional.size()));
  }
  return parsed;
}

}  // namespace corvane::cli
