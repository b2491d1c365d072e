#pragma once
// timeStamp.dat: the local time of the last delivery into a folder, as the 8 bytes of a
// little-endian automation date in whole seconds, written in place at offset 0.

#include <array>
#include <cstdint>
#include <string_view>

namespace platform {
class ConfinedFolder;
}

namespace sorter {

std::array<uint8_t, 8> time_stamp_bytes(double oa_date);

// Writes the stamp, creating the file when missing and leaving any longer tail in place. Any
// failure (missing folder, file in use) is skipped without a report.
void updateTime(std::u16string_view path, double oa_date) noexcept;

// The same for the file name directly in folder, never through a link (a link is skipped).
void updateTime(const platform::ConfinedFolder& folder, std::u16string_view name,
                double oa_date) noexcept;

}  // namespace sorter
