// ANSI code page conversion on POSIX systems. Windows-1252 is built in (exact, fast, and
// independent of the process locale); another code page named by CORVANE_CODEPAGE goes
// through iconv.

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>

#include "platform/codepage.h"
#include "posix/best_fit_1252.h"

namespace platform {
namespace {

// Bytes 0x80..0x9F of Windows-1252; the five unassigned bytes map to the C1 controls of the
// same value, as Windows does, so every byte survives a round trip.
constexpr std::array<char16_t, 32> kHigh1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int to_1252_exact(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  for (std::size_t i = 0; i < kHigh1252.size(); ++i) {
    if (kHigh1252[i] == c) return static_cast<int>(0x80 + i);
  }
  return -1;
}

bool is_1252(const char* name);

// Whether iconv converts between UTF-16 and the code page name, both ways.
bool iconv_knows(const char* name) {
  for (const auto& [to, from] : {std::pair{name, "UTF-16LE"}, std::pair{"UTF-16LE", name}}) {
    const iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
  }
  return true;
}

// The code page CORVANE_CODEPAGE names; none (Windows-1252) when it is unset, empty, or names
// no code page iconv converts: its bytes would otherwise be the UTF-16 text itself.
const char* configured_code_page() {
  const char* name = std::getenv("CORVANE_CODEPAGE");
  if (name == nullptr || *name == '\0') return nullptr;
  return (is_1252(name) || iconv_knows(name)) ? name : nullptr;
}

bool is_1252(const char* name) {
  if (name == nullptr) return true;
  std::string n;
  for (const char* p = name; *p; ++p) n += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  return n == "WINDOWS-1252" || n == "CP1252" || n == "1252";
}

// One conversion through iconv; characters it cannot convert become '?' (or U+FFFD back).
std::string iconv_convert(const char* to, const char* from, const char* in, std::size_t in_len,
                          const char* replacement, std::size_t replacement_len,
                          std::size_t unit) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in, in_len);
  std::string out(in_len * 4 + 16, '\0');
  char* src = const_cast<char*>(in);
  std::size_t src_left = in_len;
  char* dst = out.data();
  std::size_t dst_left = out.size();
  while (src_left > 0) {
    if (iconv(cd, &src, &src_left, &dst, &dst_left) != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      const std::size_t used = static_cast<std::size_t>(dst - out.data());
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dst_left = out.size() - used;
      continue;
    }
    // Invalid or incomplete input: emit the replacement and skip one unit.
    if (dst_left < replacement_len) {
      const std::size_t used = static_cast<std::size_t>(dst - out.data());
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dst_left = out.size() - used;
    }
    std::copy(replacement, replacement + replacement_len, dst);
    dst += replacement_len;
    dst_left -= replacement_len;
    const std::size_t skip = std::min(unit, src_left);
    src += skip;
    src_left -= skip;
  }
  iconv_close(cd);
  out.resize(static_cast<std::size_t>(dst - out.data()));
  return out;
}

bool all_ascii(std::u16string_view text) {
  for (char16_t c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string ansi_code_page_name() {
  const char* name = configured_code_page();
  return name ? name : "windows-1252";
}

std::string to_ansi(std::u16string_view text) {
  if (all_ascii(text)) return std::string(text.begin(), text.end());
  const char* cp = configured_code_page();
  if (is_1252(cp)) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
      const int exact = to_1252_exact(c);
      out += exact >= 0 ? static_cast<char>(exact) : best_fit_1252(c);
    }
    return out;
  }
  const std::string target = std::string(cp) + "//TRANSLIT";
  return iconv_convert(target.c_str(), "UTF-16LE", reinterpret_cast<const char*>(text.data()),
                       text.size() * 2, "?", 1, 2);
}

std::u16string from_ansi(std::string_view bytes) {
  const char* cp = configured_code_page();
  if (is_1252(cp)) {
    std::u16string out(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const auto b = static_cast<unsigned char>(bytes[i]);
      out[i] = (b >= 0x80 && b < 0xA0) ? kHigh1252[b - 0x80] : static_cast<char16_t>(b);
    }
    return out;
  }
  static const char replacement[] = {'\xFD', '\xFF'};  // U+FFFD little-endian
  const std::string utf16 =
      iconv_convert("UTF-16LE", cp, bytes.data(), bytes.size(), replacement, 2, 1);
  std::u16string out(utf16.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(utf16[2 * i]) |
                                   (static_cast<unsigned char>(utf16[2 * i + 1]) << 8));
  }
  return out;
}

}  // namespace platform
