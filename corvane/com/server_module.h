#pragma once
// State of the server as a whole: the count of live objects and class-object locks (for
// DllCanUnloadNow), and the library-wide services every object shares.

#include <memory>

#include "corvane/mail/font_object.h"
#include "corvane/model/presenter.h"

namespace corvane::com {

void object_created() noexcept;
void object_destroyed() noexcept;
void lock_server(bool lock) noexcept;
bool server_in_use() noexcept;

// The library's one debug window and its message boxes.
std::shared_ptr<Presenter> library_presenter();
// Creates OLE standard font objects.
std::shared_ptr<FontFactory> library_fonts();

}  // namespace corvane::com
