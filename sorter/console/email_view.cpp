#include "sorter/console/email_view.h"

#include <algorithm>
#include <cstdio>

#include "corvane/model/record_codec.h"
#include "platform/utf.h"
#include "sorter/console/html.h"

namespace sorter::console {
namespace {

constexpr long kMaxPixels = 4000;

bool starts_with(std::span<const std::uint8_t> bytes, std::string_view magic) {
  if (bytes.size() < magic.size()) return false;
  return std::equal(magic.begin(), magic.end(), bytes.begin(),
                    [](char m, std::uint8_t b) { return static_cast<std::uint8_t>(m) == b; });
}

// A font face name reduced to characters that cannot leave a CSS string.
std::string css_font_name(std::u16string_view name) {
  std::string out;
  for (const char16_t c : name.substr(0, 64)) {
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
        c == u' ' || c == u'-' || c == u'_') {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string text_box_style(const corvane::MsgText& t) {
  const corvane::SaveableFont& f = t.Font;
  const int size = std::clamp<int>(f.Size, 1, 200);
  int weight = f.Weight > 0 ? std::clamp<int>(f.Weight, 100, 900) : (f.Bold ? 700 : 400);
  std::string style = "left:" + std::to_string(twips_to_pixels(t.X)) +
                      "px;top:" + std::to_string(twips_to_pixels(t.Y)) + "px;";
  if (t.Width > 0) style += "width:" + std::to_string(twips_to_pixels(t.Width)) + "px;";
  if (t.Height > 0) style += "height:" + std::to_string(twips_to_pixels(t.Height)) + "px;";
  style += "color:" + css_colour(t.Colour) + ";font-size:" + std::to_string(size) + "pt;";
  style += "font-weight:" + std::to_string(weight) + ";";
  const std::string face = css_font_name(f.FontName);
  style += "font-family:" + (face.empty() ? std::string() : "'" + face + "',") + "sans-serif;";
  if (f.Italic) style += "font-style:italic;";
  if (f.Underline || f.Strikethrough) {
    style += "text-decoration:";
    if (f.Underline) style += " underline";
    if (f.Strikethrough) style += " line-through";
    style += ";";
  }
  return style;
}

std::string shown_text(const std::u16string& value) {
  if (value.size() <= kShownTextCharacters) return escape(value);
  return escape(std::u16string_view(value).substr(0, kShownTextCharacters)) +
         "<span class=\"cut\">\u2026 (" + std::to_string(value.size() - kShownTextCharacters) +
         " more characters not shown)</span>";
}

void header_row(std::string& out, const char* name, const std::u16string& value) {
  out += "<tr><th>";
  out += name;
  out += "</th><td>" + shown_text(value) + "</td></tr>";
}

std::string file_name_of(const std::u16string& path) {
  const std::size_t cut = path.find_last_of(u"/\\");
  return platform::to_utf8(cut == std::u16string::npos ? path : path.substr(cut + 1));
}

}  // namespace

DecodedEmail decode_email(std::span<const std::uint8_t> bytes) {
  DecodedEmail decoded;
  try {
    corvane::decode_record(bytes, decoded.email);
  } catch (const platform::AutomationError& e) {
    decoded.failure = e;
  }
  return decoded;
}

std::optional<std::string> image_media_type(std::span<const std::uint8_t> bytes) {
  if (starts_with(bytes, "\x89PNG\r\n\x1a\n")) return "image/png";
  if (starts_with(bytes, "GIF87a") || starts_with(bytes, "GIF89a")) return "image/gif";
  if (starts_with(bytes, "\xFF\xD8\xFF")) return "image/jpeg";
  if (starts_with(bytes, "BM") && bytes.size() > 26) return "image/bmp";
  if (starts_with(bytes, "RIFF") && bytes.size() > 12 &&
      std::string_view(reinterpret_cast<const char*>(bytes.data()) + 8, 4) == "WEBP") {
    return "image/webp";
  }
  if (starts_with(bytes, std::string_view("\0\0\1\0", 4)) && bytes.size() > 22) {
    return "image/x-icon";
  }
  return std::nullopt;
}

long twips_to_pixels(long long twips) {
  return static_cast<long>(std::clamp<long long>(twips / 15, 0, kMaxPixels));
}

std::string css_colour(std::int32_t colour) {
  const auto value = static_cast<std::uint32_t>(colour);
  if (value > 0xFFFFFFu) return "#000000";
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "#%02x%02x%02x", value & 0xFF, (value >> 8) & 0xFF,
                (value >> 16) & 0xFF);
  return buffer;
}

std::string render_email(const corvane::EmailMsg& email,
                         const std::function<std::string(std::size_t)>& picture_url) {
  std::string out = "<table class=\"headers\">";
  header_row(out, "From", email.emFrom);
  header_row(out, "To", email.emTo);
  if (!email.emCC.empty()) header_row(out, "Cc", email.emCC);
  header_row(out, "Subject", email.emSubject);
  if (email.emDate != 0) {
    out += "<tr><th>Date</th><td>" + escape(date_text(email.emDate)) + "</td></tr>";
  }
  if (!email.emAttachments.FilePath.empty()) {
    out += "<tr><th>Attachment</th><td>" + escape(file_name_of(email.emAttachments.FilePath)) +
           "</td></tr>";
  }
  out += "</table>";

  long width = 320, height = 40;
  std::string body;
  std::size_t shown = 0;
  for (const corvane::MsgText& t : email.emMsg.Texts) {
    if (++shown > kShownTextBoxes) break;
    width = std::max(width, twips_to_pixels(t.X) + twips_to_pixels(std::max(t.Width, 1500)));
    height = std::max(height, twips_to_pixels(t.Y) + twips_to_pixels(std::max(t.Height, 300)));
    body +=
        "<div class=\"tb\" style=\"" + text_box_style(t) + "\">" + shown_text(t.Value) + "</div>";
  }
  const auto& pictures = email.emMsg.Pictures.items();
  for (std::size_t n = 0; n < pictures.size() && n < kShownPictures; ++n) {
    const corvane::MsgPicture& p = pictures[n];
    const long x = twips_to_pixels(p.X), y = twips_to_pixels(p.Y);
    width = std::max(width, x + 100);
    height = std::max(height, y + 100);
    const std::string place = "left:" + std::to_string(x) + "px;top:" + std::to_string(y) + "px";
    const std::string cls = p.Borders ? "pic border" : "pic";
    if (image_media_type(p.Value.items())) {
      body += "<img class=\"" + cls + "\" loading=\"lazy\" style=\"" + place + "\" src=\"" +
              escape(picture_url(n)) + "\" alt=\"" + escape(p.FileName) + "\">";
    } else {
      body += "<div class=\"" + cls + " noimage\" style=\"" + place + "\">picture " +
              escape(p.FileName) + " (" + size_text(p.Value.size()) +
              ", not an image a browser shows)</div>";
    }
  }
  out += "<div class=\"body\" style=\"width:" + std::to_string(std::min(width, kMaxPixels)) +
         "px;height:" + std::to_string(std::min(height, kMaxPixels)) + "px\">" + body + "</div>";
  if (email.emMsg.Texts.size() > kShownTextBoxes || pictures.size() > kShownPictures) {
    out += "<p class=\"cut\">" + std::to_string(email.emMsg.Texts.size()) + " text boxes and " +
           std::to_string(pictures.size()) + " pictures; the first " +
           std::to_string(kShownTextBoxes) + " and " + std::to_string(kShownPictures) +
           " are shown.</p>";
  }
  return out;
}

}  // namespace sorter::console
