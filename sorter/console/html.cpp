#include "sorter/console/html.h"

#include <cmath>
#include <cstdio>
#include <exception>

#include "platform/oa_date.h"
#include "platform/utf.h"

namespace sorter::console {

std::string escape(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + utf8.size() / 8);
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
  return out;
}

std::string escape(std::u16string_view text) { return escape(platform::to_utf8(text)); }

std::string url_encode(std::u16string_view text) {
  static const char* const kHex = "0123456789ABCDEF";
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
