// Fuzz target: the EmailMsg decoder, fed any bytes as a record file's contents; and the
// sorter's skimming decoder, which must reach the very same outcome on the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

#include "corvane/model/record_codec.h"
#include "corvane/model/records.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/record_properties.h"

namespace {

class SpanSource final : public corvane::RecordSource {
 public:
  explicit SpanSource(std::span<const uint8_t> data) : data_(data) {}
  uint64_t size() const override { return data_.size(); }
  std::size_t read_at(uint64_t offset, std::span<uint8_t> out) override {
    if (offset >= data_.size()) return 0;
    const auto at = static_cast<std::size_t>(offset);  // below data_.size(), so it fits
    const std::size_t n = std::min(out.size(), data_.size() - at);
    std::memcpy(out.data(), data_.data() + at, n);
    return n;
  }

 private:
  std::span<const uint8_t> data_;
};

template <class Decode>
std::optional<platform::AutomationError> outcome(Decode&& decode) {
  try {
    decode();
  } catch (const platform::AutomationError& e) {
    return e;
  }
  return std::nullopt;
}

void check_skim_matches_decode(std::span<const uint8_t> data) {
  corvane::EmailMsg full, skimmed;
  const auto a = outcome([&] { corvane::decode_record(data, full); });
  SpanSource source(data);
  const auto b = outcome([&] { corvane::skim_email(source, skimmed); });
  FUZZ_CHECK(a.has_value() == b.has_value());
  if (a) FUZZ_CHECK(a->number() == b->number() && a->description() == b->description());
  FUZZ_CHECK(full.emTo == skimmed.emTo && full.emFrom == skimmed.emFrom);
  FUZZ_CHECK(full.emCC == skimmed.emCC && full.emSubject == skimmed.emSubject);
  FUZZ_CHECK(full.emSignature == skimmed.emSignature && full.emRead == skimmed.emRead);
  FUZZ_CHECK(full.emAttachments.FilePath == skimmed.emAttachments.FilePath);
  FUZZ_CHECK(std::memcmp(&full.emDate, &skimmed.emDate, sizeof full.emDate) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzzsupport::check_record_decoder<corvane::EmailMsg>(std::span<const uint8_t>(data, size));
  check_skim_matches_decode(std::span<const uint8_t>(data, size));
  return 0;
}
