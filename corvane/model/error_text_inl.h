#pragma once
// Template part of error_text.h.

#include <exception>
#include <new>
#include <utility>

#include "corvane/model/library_identity.h"

namespace corvane {

template <class Body>
auto with_library_source(Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (platform::AutomationError& e) {
    e.with_source_if_empty(kProgId);
    throw;
  } catch (const std::bad_alloc&) {
    throw platform::AutomationError(platform::errnum::kOutOfMemory, {},
                                    std::u16string(kProgId));
  }
}

template <class Body>
Failure failure_of(Body&& body) {
  try {
    with_library_source(std::forward<Body>(body));
    return std::nullopt;
  } catch (const platform::AutomationError& e) {
    return e;
  }
}

}  // namespace corvane
