#pragma once
// Names for temporary files beside the file they will become: the reserved prefix, then the
// process, a counter and the clock, so that two writers never pick the same name.

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/confined_folder.h"
#include "platform/utf.h"

namespace platform {

inline std::string temporary_name() {
  static std::atomic<unsigned> counter{0};
  timespec t{};
  ::clock_gettime(CLOCK_REALTIME, &t);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%x-%x-%lx", static_cast<unsigned>(::getpid()),
                counter.fetch_add(1), static_cast<unsigned long>(t.tv_nsec));
  return to_utf8(kTemporaryPrefix) + buffer;
}

}  // namespace platform
