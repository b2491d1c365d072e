#pragma once
// The record encoding shared by e-mail, template and lesson files: fields in declaration order,
// little-endian, no padding; counted texts (2-byte byte count, then the text in the ANSI code
// page); list headers (2-byte dimension count D: 0 = unsized and nothing follows, 1 = 4-byte
// element count, 4-byte signed lower bound, then the elements); nested records inline.
//
// Decoding starts from the record as given (callers pass the empty record) and never fails
// merely because the data ends:
//  - a field wholly beyond the last byte keeps its empty value;
//  - a number cut in the middle takes the bytes present as its low-order bytes, the missing
//    high-order bytes being zero (as if the data continued with zero bytes);
//  - a counted text whose bytes are cut keeps the bytes present (a shortened text);
//  - a list whose elements run past the end keeps the elements decoded from the data, and the
//    rest are empty elements. Such padding may take at most kPaddingFloorBytes plus
//    kPaddingPerDataByte times the data's size of memory per decode, and never more than
//    kMaxPaddingBytes: enough for any file cut short while it was written, too little for a
//    few bytes of garbage to decode into millions of empty elements.
// Decoding fails (throws platform::AutomationError, the record keeping what was decoded) when:
//  - a list header holds a dimension count other than 0 or 1: error 59 (the library only ever
//    writes one-dimensional lists; a count above 1 means the file is damaged or foreign);
//  - a list claims more elements than the data and the padding limit can honour: error 7.
// Memory used by a decode is therefore bounded by a small multiple of the data's size plus
// kPaddingFloorBytes.
//
// Encoding fails with error 59 when a text's converted form exceeds 65,535 bytes, the largest
// length a counted text can state: nothing is truncated silently, and since records are
// encoded before any file is touched, a failed save leaves the file as it was.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "corvane/model/records.h"

namespace corvane {

inline constexpr std::size_t kMaxCountedTextBytes = 65535;
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
// Fuzzing builds: the same paths with less memory per input, so a fuzzer runs fast.
inline constexpr std::size_t kMaxPaddingBytes = std::size_t{64} << 10;
#else
inline constexpr std::size_t kMaxPaddingBytes = std::size_t{64} << 20;
#endif
inline constexpr std::size_t kPaddingFloorBytes = std::size_t{1} << 20;
inline constexpr std::size_t kPaddingPerDataByte = 16;

template <Record R>
std::vector<uint8_t> encode_record(const R& record);

// Appends the encoding of record to out.
template <Record R>
void encode_record_into(const R& record, std::vector<uint8_t>& out);

// Decodes one record from the start of data into record; returns the number of bytes used.
template <Record R>
std::size_t decode_record(std::span<const uint8_t> data, R& record);

// The bytes of an encoding, read on demand at any offset (a file read through its handle).
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  virtual uint64_t size() const = 0;
  // Reads up to out.size() bytes at offset; fewer only at the end. Throws AutomationError.
  virtual std::size_t read_at(uint64_t offset, std::span<uint8_t> out) = 0;
};

// Decodes an e-mail as decode_record does, with the same outcome (every header field, the same
// failure with the same number and description), while keeping only the header fields: the
// body's lists are walked and checked but left sized and empty (or unsized as stored), and
// bytes inside them are not even read. It holds one window of kMaxCountedTextBytes and the
// header texts, whatever the source's size; padding is only counted, never allocated.
void skim_email(RecordSource& source, EmailMsg& email);

}  // namespace corvane
