// Windows sets no practical limit on a process's file and folder handles (millions).

#include "platform/handle_limit.h"

namespace platform {

std::size_t open_handle_limit() noexcept { return kNoHandleLimit; }

std::size_t raise_open_handle_limit() { return kNoHandleLimit; }

}  // namespace platform
