#include "corvane/model/record_codec.h"

#include <algorithm>
#include <bit>
#include <cstring>
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

class Decoder {
 public:
  explicit Decoder(std::span<const uint8_t> data)
      : data_(data),
        padding_limit_(std::min(kMaxPaddingBytes,
                                kPaddingFloorBytes + kPaddingPerDataByte * data.size())) {}

  std::size_t position() const { return std::min(pos_, data_.size()); }

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
  std::size_t remaining() const { return at_end() ? 0 : data_.size() - pos_; }

  // Reads sizeof(N) bytes little-endian; missing high-order bytes read as zero.
  template <class N>
  N number() {
    uint8_t bytes[sizeof(N)] = {};
    const std::size_t n = std::min(sizeof(N), remaining());
    if (n > 0) std::memcpy(bytes, data_.data() + pos_, n);
    pos_ += sizeof(N);
    if constexpr (std::endian::native == std::endian::big) std::reverse(bytes, bytes + sizeof(N));
    N value;
    std::memcpy(&value, bytes, sizeof(N));
    return value;
  }

  void text(Text& value) {
    const std::size_t length = number<uint16_t>();
    const std::size_t present = std::min(length, remaining());
    value = platform::from_ansi(
        std::string_view(reinterpret_cast<const char*>(data_.data()) + pos_, present));
    pos_ += length;
  }

  // Charges the memory of elements that lie beyond the data against the padding limit.
  void charge_padding(uint64_t elements, std::size_t element_size, std::size_t at) {
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
    const std::size_t header_at = pos_;
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
      const std::size_t present = std::min<std::size_t>(count, remaining());
      charge_padding(count - present, 1, header_at);
      const auto first = data_.begin() + static_cast<std::ptrdiff_t>(std::min(pos_, data_.size()));
      auto& bytes = value.items();
      bytes.assign(first, first + static_cast<std::ptrdiff_t>(present));
      bytes.resize(count, Byte{0});
      pos_ += count;
    } else {
      // Every element backed by data uses at least the bytes of an empty element (the last
      // one may be cut short), so the data backs no more elements than that; reserve no more.
      value.reserve(std::min<std::size_t>(count, remaining() / empty_encoding_size<T>() + 1));
      uint32_t decoded = 0;
      for (; decoded < count && !at_end(); ++decoded) {
        T item{};
        field(item);
        value.items().push_back(std::move(item));
      }
      charge_padding(count - decoded, sizeof(T), header_at);
      value.items().resize(count);
    }
  }

  std::span<const uint8_t> data_;
  std::size_t pos_ = 0;
  std::size_t padding_limit_;
  std::size_t padding_ = 0;
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
  Decoder decoder(data);
  decoder.field(record);
  return decoder.position();
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
