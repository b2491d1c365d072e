#include "sorter/engine/time_stamp.h"

#include <cstring>

#include "platform/binary_file.h"
#include "platform/confined_folder.h"

namespace sorter {

std::array<uint8_t, 8> time_stamp_bytes(double oa_date) {
  uint64_t bits = 0;
  std::memcpy(&bits, &oa_date, sizeof bits);
  std::array<uint8_t, 8> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
  return bytes;
}

void updateTime(std::u16string_view path, double oa_date) noexcept {
  try {
    auto file = platform::BinaryFile::open_read_write(path);
    file.write_at_start(time_stamp_bytes(oa_date));
    file.close();
  } catch (...) {
    // No report: the delivery goes on without a fresh stamp.
  }
}

void updateTime(const platform::ConfinedFolder& folder, std::u16string_view name,
                double oa_date) noexcept {
  try {
    auto file = folder.open_file(name);
    file.write_at_start(time_stamp_bytes(oa_date));
    file.close();
  } catch (...) {
    // No report: the delivery goes on without a fresh stamp.
  }
}

}  // namespace sorter
