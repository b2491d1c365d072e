#pragma once
// Template part of error_text.h.

#include <exception>
#include <new>

namespace corvane {

inline constexpr std::u16string_view kLibrarySource = u"Corvane.MailObjectModel";

template <class Body>
auto with_library_source(Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (platform::AutomationError& e) {
    e.with_source_if_empty(kLibrarySource);
    throw;
  } catch (const std::bad_alloc&) {
    throw platform::AutomationError(platform::errnum::kOutOfMemory, {},
                                    std::u16string(kLibrarySource));
  }
}

}  // namespace corvane
