#pragma once
// Builds byte fixtures from the documented record layouts: little-endian numbers, counted
// texts and list headers.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testsupport {

class Bytes {
 public:
  Bytes& u8(uint8_t v) { out_.push_back(v); return *this; }
  Bytes& u16(uint16_t v) { return raw(&v, 2); }
  Bytes& i16(int16_t v) { return raw(&v, 2); }
  Bytes& u32(uint32_t v) { return raw(&v, 4); }
  Bytes& i32(int32_t v) { return raw(&v, 4); }
  Bytes& f64(double v) { return raw(&v, 8); }
  // A counted text of single-byte characters.
  Bytes& text(const std::string& s) {
    u16(static_cast<uint16_t>(s.size()));
    out_.insert(out_.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& unsized() { return u16(0); }
  Bytes& list(uint32_t count, int32_t lower) { return u16(1).u32(count).i32(lower); }
  Bytes& append(const std::vector<uint8_t>& more) {
    out_.insert(out_.end(), more.begin(), more.end());
    return *this;
  }
  const std::vector<uint8_t>& get() const { return out_; }
  operator std::vector<uint8_t>() const { return out_; }

 private:
  Bytes& raw(const void* p, std::size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);  // the test machines are little-endian
    return *this;
  }
  std::vector<uint8_t> out_;
};

}  // namespace testsupport
