#pragma once
// The number of the automation error a call raises, 0 when it returns.

#include <functional>

#include "platform/automation_error.h"

namespace testsupport {

inline int error_of(const std::function<void()>& call) {
  try {
    call();
  } catch (const platform::AutomationError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace testsupport
