// Fuzz target: the EmailMsg decoder, fed any bytes as a record file's contents.

#include <cstddef>
#include <cstdint>
#include <span>

#include "corvane/model/records.h"
#include "fuzz/record_properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzzsupport::check_record_decoder<corvane::EmailMsg>(std::span<const uint8_t>(data, size));
  return 0;
}
