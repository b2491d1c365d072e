#pragma once
// Property checks inside fuzz targets. A failed check prints what was expected and aborts, which
// libFuzzer reports as a crash (saving the input) and the replay program as a failed test.

#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

[[noreturn]] inline void check_failed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: property violated: %s\n", file, line, condition);
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzzsupport

#define FUZZ_CHECK(condition)                                                        \
  do {                                                                               \
    if (!(condition)) ::fuzzsupport::check_failed(#condition, __FILE__, __LINE__);   \
  } while (false)
