#pragma once
// How many files and folders the process may hold open at once. Work that keeps handles
// between steps (a round's mailbox folders) sizes what it keeps well under this, so that the
// log and the files at hand can always still be opened.

#include <cstddef>

namespace platform {

// Where the system sets no practical limit (Windows handles).
inline constexpr std::size_t kNoHandleLimit = static_cast<std::size_t>(-1);

// The limit now in force (POSIX: the soft RLIMIT_NOFILE).
std::size_t open_handle_limit() noexcept;

// Raises the limit as far as the process may (POSIX: the soft RLIMIT_NOFILE to the hard one)
// and returns the limit then in force. Throws AutomationError when the raise is refused.
std::size_t raise_open_handle_limit();

}  // namespace platform
