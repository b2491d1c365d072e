#pragma once
// The process environment: variables and the folder of the running program.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The value of an environment variable; no value when it is not set.
std::optional<std::u16string> environment_variable(std::u16string_view name);

// The folder that holds the running program, without a trailing separator.
std::u16string executable_folder();

}  // namespace platform
