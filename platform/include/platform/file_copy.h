#pragma once
// Byte-for-byte file copy that replaces an existing target. Copying a file onto itself
// (the same path twice) leaves it unchanged and succeeds. Failures throw AutomationError:
// 53 missing source, 76 missing target folder, 70/75 unreadable source or unwritable target.

#include <string_view>

namespace platform {

void copy_file_replacing(std::u16string_view source, std::u16string_view target);

}  // namespace platform
