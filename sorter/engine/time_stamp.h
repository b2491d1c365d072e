#pragma once
// timeStamp.dat: the local time of the last delivery into a folder, as the 8 bytes of a
// little-endian automation date in whole seconds, written in place at offset 0.

#include <array>
#include <cstdint>
#include <string_view>

namespace sorter {

std::array<uint8_t, 8> time_stamp_bytes(double oa_date);

// Writes the stamp, creating the file when missing and leaving any longer tail in place. Any
// failure (missing folder, file in use) is skipped without a report.
void updateTime(std::u16string_view path, double oa_date) noexcept;

}  // namespace sorter
