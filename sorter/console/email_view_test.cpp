// E-mail rendering details and the log reader: the places where a pupil's data meets CSS and
// where the log's own layout is read back.

#include "sorter/console/email_view.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sorter/console/log_reader.h"
#include "sorter/engine/event_log.h"

namespace sorter::console {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::vector<uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }

TEST(EmailView, ColoursPositionsAndFontNamesCannotLeaveTheirCssValues) {
  EXPECT_EQ(css_colour(0x0000FF), "#ff0000");
  EXPECT_EQ(css_colour(0x123456), "#563412");
  EXPECT_EQ(css_colour(static_cast<int32_t>(0x80000005)), "#000000");  // a system colour
  EXPECT_EQ(twips_to_pixels(1500), 100);
  EXPECT_EQ(twips_to_pixels(-300), 0);
  EXPECT_EQ(twips_to_pixels(2147483647), 4000);

  corvane::EmailMsg m;
  corvane::MsgText t;
  t.Font.FontName = u"x';}</style><script>alert(1)</script>";
  t.Font.Size = 32000;
  m.emMsg.Texts = corvane::List<corvane::MsgText>::sized(0, {t});
  const std::string html = render_email(m, [](std::size_t) { return std::string(); });
  EXPECT_THAT(html, HasSubstr("font-family:'xstylescriptalert1script',sans-serif"));
  EXPECT_THAT(html, HasSubstr("font-size:200pt"));
  EXPECT_THAT(html, Not(HasSubstr("<script")));
}

TEST(EmailView, OnlyImageKindsABrowserShowsAreServed) {
  EXPECT_EQ(image_media_type(bytes("\x89PNG\r\n\x1a\nrest")), "image/png");
  EXPECT_EQ(image_media_type(bytes("GIF89a....")), "image/gif");
  EXPECT_EQ(image_media_type(bytes("\xFF\xD8\xFF\xE0")), "image/jpeg");
  EXPECT_EQ(image_media_type(bytes("<svg xmlns='http://www.w3.org/2000/svg'>")), std::nullopt);
  EXPECT_EQ(image_media_type(bytes("<html><script>")), std::nullopt);
  EXPECT_EQ(image_media_type(bytes("")), std::nullopt);
}

TEST(LogReader, ReadsEntriesBackFromTheLogLayout) {
  std::string log = "ed text of an entry cut by the tail\r\n";
  log += format_log_entry(46364.5, u"Path not found", EventType::kError);
  log += format_log_entry(46364.5, u"two\r\nlines", EventType::kWarning);
  log += format_log_entry(46364.5, u"done", EventType::kInformation);
  log += format_log_entry(46364.5, u"odd", EventType{12345});
  const auto entries = parse_log(bytes(log));
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].stamp, "2026-12-08 12:00:00");
  EXPECT_EQ(entries[0].type, EventType::kError);
  EXPECT_EQ(entries[0].text, u"Path not found");
  EXPECT_EQ(entries[1].type, EventType::kWarning);
  EXPECT_EQ(entries[1].text, u"two\nlines");
  EXPECT_EQ(entries[2].type, EventType::kInformation);
  EXPECT_EQ(entries[2].text, u"done");
  EXPECT_EQ(entries[3].type, EventType{12345});
  EXPECT_EQ(entries[3].text, u"odd");
}

}  // namespace
}  // namespace sorter::console
