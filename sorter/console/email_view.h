#pragma once
// An e-mail file shown as its recipient would see it: the header fields, then the body with
// each text box at its place in its font, colour and size, and each picture as the image its
// bytes hold when a browser can show that kind of image.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "corvane/model/records.h"
#include "platform/automation_error.h"

namespace sorter::console {

struct DecodedEmail {
  corvane::EmailMsg email;
  // Why the file could not be read in full (the record holds what was decoded).
  std::optional<platform::AutomationError> failure;
};

// Decodes the bytes of an e-mail file the way OpenEmail reads one.
DecodedEmail decode_email(std::span<const std::uint8_t> bytes);

// The media type of picture bytes a browser shows (PNG, GIF, JPEG, BMP, WebP, ICO); none for
// anything else, SVG included (it could carry script).
std::optional<std::string> image_media_type(std::span<const std::uint8_t> bytes);

// Limits of what is shown of one e-mail, so that a pupil's e-mail cannot swamp the page.
inline constexpr std::size_t kShownTextCharacters = 20000;
inline constexpr std::size_t kShownTextBoxes = 200;
inline constexpr std::size_t kShownPictures = 50;

// The e-mail as HTML. picture_url gives the address of picture n (position in the list, from
// 0); it is asked only for pictures whose bytes are an image a browser can show.
std::string render_email(const corvane::EmailMsg& email,
                         const std::function<std::string(std::size_t)>& picture_url);

// Twips (the unit of positions and sizes in e-mails) to CSS pixels, clamped to the page.
long twips_to_pixels(long long twips);

// The CSS colour of a stored colour value (0x00BBGGRR); system colours and other values with
// high bits set show as black.
std::string css_colour(std::int32_t colour);

}  // namespace sorter::console
