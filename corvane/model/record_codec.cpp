#include "corvane/model/record_codec.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "platform/automation_error.h"
#include "platform/codepage.h"
#include "platform/decimal_text.h"

namespace corvane {
namespace {

using platform::AutomationError;
namespace errnum = platform::errnum;
using platform::decimal_text;

template <class T>
struct IsList : std::false_type {};
template <class T>
struct IsList<List<T>> : std::true_type {};

class Encoder {
 public:
  explicit Encoder(std::vector<uint8_t>& out) : out_(out) {}

  template <class Field>
  void field(const Field& value) {
    if constexpr (std::is_same_v<Field, Text>) {
      text(value);
    } else if constexpr (std::is_same_v<Field, Signature>) {
      out_.insert(out_.end(), value.begin(), value.end());
    } else if constexpr (IsList<Field>::value) {
      list(value);
    } else if constexpr (std::is_arithmetic_v<Field>) {
      number(value);
    } else {
      Field::for_each_field(value, [this](const char*, const auto& f) { field(f); });
    }
  }

 private:
  template <class N>
  void number(N value) {
    uint8_t bytes[sizeof(N)];
    std::memcpy(bytes, &value, sizeof(N));
    if constexpr (std::endian::native == std::endian::big) std::reverse(bytes, bytes + sizeof(N));
    out_.insert(out_.end(), bytes, bytes + sizeof(N));
  }

  void text(const Text& value) {
    const std::string bytes = platform::to_ansi(value);
    if (bytes.size() > kMaxCountedTextBytes) {
      throw AutomationError(errnum::kBadRecordLength,
                            u"Bad record length: a text of " + decimal_text(bytes.size()) + u" bytes is longer than the 65535 bytes a record file can hold");
    }
    number(static_cast<uint16_t>(bytes.size()));
    out_.insert(out_.end(), bytes.begin(), bytes.end());
  }

  template <class T>
  void list(const List<T>& value) {
    if (!value.is_sized()) {
      number(uint16_t{0});
      return;
    }
    number(uint16_t{1});
    number(static_cast<uint32_t>(value.size()));
    number(static_cast<int32_t>(value.lower_bound()));
    if constexpr (std::is_same_v<T, Byte>) {
      out_.insert(out_.end(), value.items().begin(), value.items().end());
    } else {
      for (const T& item : value) field(item);
    }
  }

  std::vector<uint8_t>& out_;
};

// The size of the shortest encoding of a T, that of the empty element.
template <class T>
std::size_t empty_encoding_size() {
  static const std::size_t size = [] {
    std::vector<uint8_t> out;
    Encoder(out).field(T{});
    return out.size();
  }();
  return size;
}

// The bytes of a decode held in memory.
class SpanBytes {
 public:
  explicit SpanBytes(std::span<const uint8_t> data) : data_(data) {}
  uint64_t size() const { return data_.size(); }
  // n bytes at offset, all within size(); valid until the next call.
  const uint8_t* at(uint64_t offset, std::size_t) { return data_.data() + offset; }

 private:
  std::span<const uint8_t> data_;
};

// The bytes of a decode read from a RecordSource through a window as large as the longest
// counted text, so that memory stays the same whatever the source's size.
class WindowBytes {
 public:
  explicit WindowBytes(RecordSource& source)
      : source_(source),
        size_(source.size()),
        window_(std::make_unique_for_overwrite<uint8_t[]>(kWindowSize)) {}
  uint64_t size() const { return size_; }
  const uint8_t* at(uint64_t offset, std::size_t n) {
    if (offset < start_ || offset + n > start_ + filled_) {
      start_ = offset;
      const std::size_t want =
          static_cast<std::size_t>(std::min<uint64_t>(kWindowSize, size_ - offset));
      filled_ = source_.read_at(offset, std::span<uint8_t>(window_.get(), want));
      // A source that shrank meanwhile reads as zero bytes up to its former size.
      std::fill(window_.get() + filled_, window_.get() + want, uint8_t{0});
      filled_ = want;
    }
    return window_.get() + (offset - start_);
  }

 private:
  static constexpr std::size_t kWindowSize = kMaxCountedTextBytes + 1;
  RecordSource& source_;
  uint64_t size_;
  std::unique_ptr<uint8_t[]> window_;  // not cleared: only bytes read are ever looked at
  uint64_t start_ = 0;
  std::size_t filled_ = 0;
};

// Decodes fields from Bytes. A skimming decoder walks every field and list element with the
// same checks and the same memory accounting, but keeps no list contents: texts and bytes
// inside lists are skipped, and lists are left sized and empty.
template <class Bytes, bool kSkim = false>
class Decoder {
 public:
  explicit Decoder(Bytes data)
      : data_(std::move(data)),
        padding_limit_(static_cast<std::size_t>(std::min<uint64_t>(
            kMaxPaddingBytes, kPaddingFloorBytes + kPaddingPerDataByte * data_.size()))) {}

  uint64_t position() const { return std::min(pos_, data_.size()); }

  template <class Field>
  void field(Field& value) {
    if (at_end()) return;  // wholly beyond the data: keeps its empty value
    if constexpr (std::is_same_v<Field, Text>) {
      text(value);
    } else if constexpr (std::is_same_v<Field, Signature>) {
      for (Byte& b : value) b = number<Byte>();
    } else if constexpr (IsList<Field>::value) {
      list(value);
    } else if constexpr (std::is_arithmetic_v<Field>) {
      value = number<Field>();
    } else {
      Field::for_each_field(value, [this](const char*, auto& f) { field(f); });
    }
  }

 private:
  bool at_end() const { return pos_ >= data_.size(); }
  uint64_t remaining() const { return at_end() ? 0 : data_.size() - pos_; }
  bool skipping() const { return kSkim && list_depth_ > 0; }

  // Reads sizeof(N) bytes little-endian; missing high-order bytes read as zero.
  template <class N>
  N number() {
    uint8_t bytes[sizeof(N)] = {};
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(sizeof(N), remaining()));
    if (n > 0) std::memcpy(bytes, data_.at(pos_, n), n);
    pos_ += sizeof(N);
    if constexpr (std::endian::native == std::endian::big) std::reverse(bytes, bytes + sizeof(N));
    N value;
    std::memcpy(&value, bytes, sizeof(N));
    return value;
  }

  void text(Text& value) {
    const std::size_t length = number<uint16_t>();
    const std::size_t present = static_cast<std::size_t>(std::min<uint64_t>(length, remaining()));
    if (!skipping()) {
      value = platform::from_ansi(std::string_view(
          reinterpret_cast<const char*>(present > 0 ? data_.at(pos_, present) : nullptr),
          present));
    }
    pos_ += length;
  }

  // Charges the memory of elements that lie beyond the data against the padding limit.
  void charge_padding(uint64_t elements, std::size_t element_size, uint64_t at) {
    const uint64_t bytes = elements * element_size;
    if (elements != 0 && (bytes / elements != element_size || bytes > padding_limit_ - padding_)) {
      throw AutomationError(errnum::kOutOfMemory,
                            u"Out of memory: a list at byte " + decimal_text(at) + u" claims " +
                                decimal_text(elements) + u" more elements than the file holds");
    }
    padding_ += static_cast<std::size_t>(bytes);
  }

  template <class T>
  void list(List<T>& value) {
    const uint64_t header_at = pos_;
    const uint16_t dimensions = number<uint16_t>();
    if (dimensions == 0) {
      value.reset();
      return;
    }
    if (dimensions != 1) {
      throw AutomationError(errnum::kBadRecordLength,
                            u"Bad record length: a list at byte " + decimal_text(header_at) +
                                u" has " + decimal_text(dimensions) +
                                u" dimensions; record files hold one-dimensional lists only");
    }
    const uint32_t count = number<uint32_t>();
    const int32_t lower = number<int32_t>();
    value = List<T>::sized(lower);
    if constexpr (std::is_same_v<T, Byte>) {
      const std::size_t present = static_cast<std::size_t>(std::min<uint64_t>(count, remaining()));
      charge_padding(count - present, 1, header_at);
      if (!kSkim) {
        auto& bytes = value.items();
        if (present > 0) {
          const uint8_t* first = data_.at(pos_, present);
          bytes.assign(first, first + present);
        }
        bytes.resize(count, Byte{0});
      }
      pos_ += count;
    } else {
      if (!kSkim) {
        // Every element backed by data uses at least the bytes of an empty element (the last
        // one may be cut short), so the data backs no more elements than that; reserve no more.
        value.reserve(static_cast<std::size_t>(
            std::min<uint64_t>(count, remaining() / empty_encoding_size<T>() + 1)));
      }
      ++list_depth_;
      uint32_t decoded = 0;
      for (; decoded < count && !at_end(); ++decoded) {
        T item{};
        field(item);
        if (!kSkim) value.items().push_back(std::move(item));
      }
      --list_depth_;
      charge_padding(count - decoded, sizeof(T), header_at);
      if (!kSkim) value.items().resize(count);
    }
  }

  Bytes data_;
  uint64_t pos_ = 0;
  std::size_t padding_limit_;
  std::size_t padding_ = 0;
  int list_depth_ = 0;
};

}  // namespace

template <Record R>
void encode_record_into(const R& record, std::vector<uint8_t>& out) {
  Encoder(out).field(record);
}

template <Record R>
std::vector<uint8_t> encode_record(const R& record) {
  std::vector<uint8_t> out;
  encode_record_into(record, out);
  return out;
}

template <Record R>
std::size_t decode_record(std::span<const uint8_t> data, R& record) {
  Decoder<SpanBytes> decoder{SpanBytes(data)};
  decoder.field(record);
  return static_cast<std::size_t>(decoder.position());
}

void skim_email(RecordSource& source, EmailMsg& email) {
  Decoder<WindowBytes, true> decoder{WindowBytes(source)};
  decoder.field(email);
}

#define CORVANE_INSTANTIATE_CODEC(R)                                                   \
  template std::vector<uint8_t> encode_record<R>(const R&);                            \
  template void encode_record_into<R>(const R&, std::vector<uint8_t>&);                \
  template std::size_t decode_record<R>(std::span<const uint8_t>, R&);

CORVANE_INSTANTIATE_CODEC(SaveableFont)
CORVANE_INSTANTIATE_CODEC(MsgAttachment)
CORVANE_INSTANTIATE_CODEC(MsgText)
CORVANE_INSTANTIATE_CODEC(MsgPicture)
CORVANE_INSTANTIATE_CODEC(MsgContents)
CORVANE_INSTANTIATE_CODEC(EmailMsg)
CORVANE_INSTANTIATE_CODEC(LessonChoice)
CORVANE_INSTANTIATE_CODEC(LessonStep)
CORVANE_INSTANTIATE_CODEC(EmailLesson)

}  // namespace corvane
