#pragma once
// The properties every record decoder must keep on any input:
//  - decoding either succeeds or fails with one of the two documented errors (59 for a list
//    with more than one dimension, 7 for a list the data and the padding limit cannot honour);
//    nothing else escapes, nothing crashes;
//  - a decode that consumed the data without running past its end re-encodes to exactly the
//    bytes it consumed (when the code page maps bytes to characters one to one);
//  - whatever was decoded, encoding it and decoding that again gives the same encoding:
//    shortened texts and padded lists are ordinary values once decoded;
//  - memory the decoder set aside for list elements and did not fill, also when it failed, is
//    bounded by a small multiple of the data's size (a damaged count must not make a reader
//    reserve memory in proportion to the count, nor to a large multiple of the file).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "corvane/model/record_codec.h"
#include "fuzz/fuzz_check.h"
#include "platform/automation_error.h"
#include "platform/codepage.h"

namespace fuzzsupport {

// True when every byte value converts to one character and back to itself, as with
// Windows-1252; byte-exact round trips are only expected then.
inline bool code_page_is_byte_exact() {
  static const bool exact = [] {
    for (int b = 0; b < 256; ++b) {
      const std::string one(1, static_cast<char>(b));
      const std::u16string text = platform::from_ansi(one);
      if (text.size() != 1 || platform::to_ansi(text) != one) return false;
    }
    return true;
  }();
  return exact;
}

// The decoder reserves at most one element per empty-element encoding's worth of remaining
// data: 16 bytes of memory per data byte for a lesson choice (96 bytes, 6 encoded), 10 for a
// lesson step. A lesson nests both, so a failed decode may leave up to 26 per byte unused.
inline constexpr std::size_t kMaxUnusedBytesPerDataByte = 32;

// Bytes of list storage reserved and not holding elements, in record and everything in it.
template <class Field>
std::size_t unused_list_bytes(const Field& field) {
  if constexpr (corvane::Record<Field>) {
    std::size_t total = 0;
    Field::for_each_field(field, [&](const char*, const auto& f) { total += unused_list_bytes(f); });
    return total;
  } else if constexpr (requires { field.items(); }) {
    const auto& items = field.items();
    std::size_t total = (items.capacity() - items.size()) * sizeof(items[0]);
    if constexpr (corvane::Record<std::decay_t<decltype(items[0])>>) {
      for (const auto& item : items) total += unused_list_bytes(item);
    }
    return total;
  } else {
    return 0;
  }
}

// Decodes data into record; false when the decode failed (with a documented error).
template <corvane::Record R>
bool decode_checked(std::span<const uint8_t> data, R& record, std::size_t& used) {
  bool decoded = true;
  try {
    used = corvane::decode_record(data, record);
    FUZZ_CHECK(used <= data.size());
  } catch (const platform::AutomationError& e) {
    FUZZ_CHECK(e.number() == platform::errnum::kBadRecordLength ||
               e.number() == platform::errnum::kOutOfMemory);
    decoded = false;
  }
  FUZZ_CHECK(unused_list_bytes(record) <= kMaxUnusedBytesPerDataByte * data.size() + 1024);
  return decoded;
}

// Whether a decode that used `used` bytes of data stayed inside it. A decode that stopped
// short of the end did; one that reached the end may have run past it (a cut number, text or
// list). Every field takes at least one byte, so with one more byte of data a decode that ran
// past the end uses more than before, and one that did not uses exactly as much.
template <corvane::Record R>
bool decode_stayed_inside(std::span<const uint8_t> data, std::size_t used) {
  if (used < data.size()) return true;
  std::vector<uint8_t> longer(data.begin(), data.end());
  longer.push_back(0);
  R record{};
  std::size_t used_longer = 0;
  try {
    used_longer = corvane::decode_record(std::span<const uint8_t>(longer), record);
  } catch (const platform::AutomationError&) {
    return false;
  }
  return used_longer == used;
}

template <corvane::Record R>
void check_record_decoder(std::span<const uint8_t> data) {
  R record{};
  std::size_t used = 0;
  if (!decode_checked(data, record, used)) return;

  std::vector<uint8_t> encoded;
  try {
    encoded = corvane::encode_record(record);
  } catch (const platform::AutomationError&) {
    // Only a text too long for a counted text may fail, and a decoded text never is one
    // in a single-byte code page.
    FUZZ_CHECK(!code_page_is_byte_exact());
    return;
  }
  if (code_page_is_byte_exact() && decode_stayed_inside<R>(data, used)) {
    FUZZ_CHECK(used == encoded.size());
    FUZZ_CHECK(std::equal(encoded.begin(), encoded.end(), data.begin()));
  }

  R again{};
  std::size_t used_again = 0;
  FUZZ_CHECK(decode_checked(std::span<const uint8_t>(encoded), again, used_again));
  FUZZ_CHECK(used_again == encoded.size());
  if (code_page_is_byte_exact()) FUZZ_CHECK(corvane::encode_record(again) == encoded);
}

}  // namespace fuzzsupport
