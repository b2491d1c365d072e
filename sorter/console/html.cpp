#include "sorter/console/html.h"

#include <cmath>
#include <cstdio>
#include <exception>

#include "platform/oa_date.h"
#include "platform/utf.h"

namespace sorter::console {

namespace {

// Appends valid UTF-8 text escaped: & < > " ' as entities, control characters other than tab
// and line ends as U+FFFD.
void append_escaped(std::string& out, std::string_view utf8) {
  for (const char c : utf8) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') ||
            c == 0x7F) {
          out += "\xEF\xBF\xBD";
        } else {
          out += c;
        }
    }
  }
}

// A lone surrogate that stands for a byte that is not UTF-8 (see platform/utf.h).
bool is_kept_byte(std::u16string_view text, std::size_t i) {
  return text[i] >= 0xDC80 && text[i] <= 0xDCFF &&
         !(i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF);
}

constexpr const char* kHex = "0123456789ABCDEF";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string escape(std::string_view utf8) { return escape(platform::from_utf8(utf8)); }

std::string escape(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!is_kept_byte(text, i)) continue;
    append_escaped(out, platform::to_utf8(text.substr(run, i - run)));
    const auto byte = static_cast<unsigned>(text[i] - 0xDC00);
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
    run = i + 1;
  }
  append_escaped(out, platform::to_utf8(text.substr(run)));
  return out;
}

std::string url_encode(std::u16string_view text) {
  std::string out;
  for (const char c : platform::to_utf8(text)) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
        b == '_' || b == '.' || b == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

std::u16string url_decode(std::string_view encoded) {
  std::string bytes;
  bytes.reserve(encoded.size());
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const int high = encoded[i] == '%' && i + 2 < encoded.size() ? hex_value(encoded[i + 1]) : -1;
    const int low = high >= 0 ? hex_value(encoded[i + 2]) : -1;
    if (low >= 0) {
      bytes += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      bytes += encoded[i];
    }
  }
  return platform::from_utf8(bytes);
}

std::string date_text(std::optional<double> oa_date) {
  if (!oa_date) return "-";
  try {
    const platform::OaDateParts p = platform::oa_date_parts(*oa_date);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second);
    return buffer;
  } catch (const std::exception&) {
    return "-";
  }
}

std::string age_text(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "just now";
  const auto whole = static_cast<long long>(seconds);
  if (whole < 120) return std::to_string(whole) + " s";
  if (whole < 7200) return std::to_string(whole / 60) + " min";
  if (whole < 172800) return std::to_string(whole / 3600) + " h";
  return std::to_string(whole / 86400) + " d";
}

std::string size_text(unsigned long long bytes) {
  char buffer[32];
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  if (bytes < 1024 * 1024) {
    std::snprintf(buffer, sizeof buffer, "%.1f KiB", static_cast<double>(bytes) / 1024);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.1f MiB", static_cast<double>(bytes) / 1048576);
  }
  return buffer;
}

}  // namespace sorter::console
