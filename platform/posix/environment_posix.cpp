// The process environment on POSIX.

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/automation_error.h"
#include "platform/environment.h"
#include "platform/utf.h"

namespace platform {

std::optional<std::u16string> environment_variable(std::u16string_view name) {
  const char* value = ::getenv(to_utf8(name).c_str());
  if (value == nullptr) return std::nullopt;
  return from_utf8(value);
}

std::u16string executable_folder() {
  std::string path(PATH_MAX, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) {
    throw AutomationError(errnum::kPathFileAccess, u"The program's folder is not known");
  }
  path.resize(static_cast<std::size_t>(n));
  path.resize(path.find_last_of('/'));  // "/sorter" gives "", the root without its separator
  return from_utf8(path);
}

}  // namespace platform
