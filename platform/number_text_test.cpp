#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/locale_text.h"

namespace platform {
namespace {

TEST(ParseNumber, AcceptsPlainDecimalForms) {
  EXPECT_EQ(parse_number(u"2", u'.'), 2.0);
  EXPECT_EQ(parse_number(u"  -2  ", u'.'), -2.0);
  EXPECT_EQ(parse_number(u"\t+2.5", u'.'), 2.5);
  EXPECT_EQ(parse_number(u"2.", u'.'), 2.0);
  EXPECT_EQ(parse_number(u".5", u'.'), 0.5);
  EXPECT_EQ(parse_number(u"1e3", u'.'), 1000.0);
  EXPECT_EQ(parse_number(u"1.5E-1", u'.'), 0.15);
  EXPECT_EQ(parse_number(u"007", u'.'), 7.0);
  EXPECT_EQ(parse_number(u"1e-400", u'.'), 0.0);
}

TEST(ParseNumber, RejectsEverythingElse) {
  for (const char16_t* text :
       {u"", u"   ", u"x", u"\"1\"", u"1 2", u"1.2.3", u"+", u".", u"1e", u"1e+", u"e5",
        u"--1", u"1,5", u"0x10", u"1e400", u"2a", u"\n2", u"\u0662"}) {
    EXPECT_EQ(parse_number(text, u'.'), std::nullopt) << std::u16string(text).size();
  }
}

TEST(ParseNumber, FollowsTheGivenSeparator) {
  EXPECT_EQ(parse_number(u"2,5", u','), 2.5);
  EXPECT_EQ(parse_number(u"2.5", u','), std::nullopt);
}

TEST(ParseNumber, ExtremeMagnitudes) {
  const std::u16string many(5000, u'9');
  const std::optional<double> value = parse_number(many, u'.');
  EXPECT_EQ(value, std::nullopt);  // beyond the range of a double
  EXPECT_EQ(parse_number(u"0." + std::u16string(400, u'0') + u"1", u'.'), 0.0);
}

#ifndef _WIN32
// The POSIX separator follows the environment; the C locale (always installed) gives '.'.
TEST(DecimalSeparator, ComesFromTheEnvironment) {
  const char* saved = std::getenv("LC_ALL");
  const std::string saved_value = saved ? saved : "";
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(decimal_separator(), u'.');
  setenv("LC_ALL", "no_such_locale.UTF-8", 1);
  EXPECT_EQ(decimal_separator(), u'.');
  if (saved) {
    setenv("LC_ALL", saved_value.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}
#endif

TEST(DecimalSeparator, TheOneArgumentFormUsesIt) {
  const std::u16string text = std::u16string(u"2") + decimal_separator() + u"5";
  EXPECT_EQ(parse_number(text), 2.5);
}

}  // namespace
}  // namespace platform
