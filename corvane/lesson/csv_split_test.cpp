#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "corvane/lesson/csv_split.h"
#include "corvane/lesson/lesson_test_support.h"
#include "platform/utf.h"

namespace corvane {
namespace {

using lessontest::error_of;
using Columns = std::vector<Text>;

const Columns kRejected = {u"", u"", u"", u""};

Columns split(const Text& line) {
  lessontest::Fixture f;
  const List<Text> result = f.model.SplitCSVLine(line);
  EXPECT_TRUE(result.is_sized());
  EXPECT_EQ(result.lower_bound(), 0);
  return result.items();
}

struct SplitCase {
  const char16_t* line;
  Columns expected;
};

TEST(SplitCSVLine, DocumentedLines) {
  const std::vector<SplitCase> cases = {
      {u"3,Ann,Hello,Hi, how are you?", {u"3", u"Ann", u"Hello", u"Hi, how are you?"}},
      {u"3,\"Smith, Ann\",Hello,Bye", {u"3", u"Smith, Ann", u"Hello", u"Bye"}},
      {u"3, \"Ann\" x,Hello,Bye", {u"3", u"Ann", u"Hello", u"Bye"}},
      {u"3,\"say \"\"hi\"\"\",Hello,Bye", {u"3", u"say ", u"Hello", u"Bye"}},
      {u"3,Ann,Hello,He said \"no\"", {u"3", u"Ann", u"Hello", u"He said no"}},
      {u"1,,,", {u"1", u"", u"", u""}},
      {u"1,Ann,Hello,", {u"1", u"Ann", u"Hello", u""}},
      {u" 2, Tom ,\"Re: a, b\",x\ny", {u" 2", u" Tom ", u"Re: a, b", u"x\ny"}},
      {u"2.0,Ann,Hello,Bye", {u"2.0", u"Ann", u"Hello", u"Bye"}},
      {u"-1e1,Ann,Hello,Bye", {u"-1e1", u"Ann", u"Hello", u"Bye"}},
      {u"1,Ann,Hello", kRejected},
      {u"x,Ann,Hello,Bye", kRejected},
      {u"\"1\",Ann,Hello,Bye", kRejected},
      {u"1,\"Ann,Hello,Bye", kRejected},
      {u"1,A\"nn,Hello,Bye", kRejected},
      {u"1,\"Ann\",\"Hello\"", kRejected},
      {u"1,Ann,\"Hel,lo,Bye", kRejected},
      {u",Ann,Hello,Bye", kRejected},
      {u"", kRejected},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(split(c.line), c.expected) << platform::to_utf8(c.line);
  }
}

// Positions are 16-bit: a search result or start position beyond 32767 overflows, while a
// search that finds nothing still rejects.
TEST(SplitCSVLine, PositionsBeyond32767Overflow) {
  lessontest::Fixture f;
  const Text pad(32770, u'a');
  const auto error = [&](const Text& line) {
    return error_of([&] { f.model.SplitCSVLine(line); });
  };
  EXPECT_EQ(error(u"1" + pad + u",a,b,c"), platform::errnum::kOverflow);  // first comma
  EXPECT_EQ(error(u"1" + Text(32765, u' ') + u",a,b,c"), platform::errnum::kOverflow);  // start
  EXPECT_EQ(error(u"1,a," + pad + u",c"), platform::errnum::kOverflow);  // third comma
  EXPECT_EQ(error(u"1,a," + Text(32762, u'b') + u",c"), platform::errnum::kOverflow);  // column 4
  EXPECT_EQ(split(u"1,a," + Text(32760, u'b') + u",c")[3], u"c");
  // The exact limits: column 4 may start at 32767; a comma or quote at 32768 overflows, one
  // at 32767 does not.
  EXPECT_EQ(split(u"1,a," + Text(32761, u'b') + u",c")[3], u"c");
  EXPECT_EQ(error(u"1,a," + Text(32763, u'b') + u",c"), platform::errnum::kOverflow);
  EXPECT_EQ(error(u"1,a,b," + Text(32761, u'x') + u"\""), platform::errnum::kOverflow);
  EXPECT_EQ(split(u"1,a,b," + Text(32760, u'x') + u"\"")[3], Text(32760, u'x'));
  // Column 2's quote search reaches into column 4.
  EXPECT_EQ(error(u"1,a,b," + pad + u"\"q\""), platform::errnum::kOverflow);
  // A quoted column 3 ends the quote searches; column 4 is never searched for commas.
  EXPECT_EQ(split(u"1,a,\"b\"," + pad + u"\",x")[3], pad + u",x");
  EXPECT_EQ(split(u"1" + pad), kRejected);  // no comma anywhere
}

// A line cut by the reader splits exactly as its whole text would.
TEST(SplitCsvColumns, CutLinesDecideFromTheSummaryOfTheRest) {
  const Text head(40000, u'7');
  CsvLineView cut{head, true, false, false, u""};
  EXPECT_EQ(split_csv_columns(cut, u'.'), std::nullopt);
  cut.rest_has_comma = true;
  EXPECT_EQ(error_of([&] { split_csv_columns(cut, u'.'); }), platform::errnum::kOverflow);

  const Text line = u"1,a,\"b\"," + Text(40000, u'"') + u"x";
  const CsvLineView long_message{line, true, true, true, u"tail"};
  const auto columns = split_csv_columns(long_message, u'.');
  ASSERT_TRUE(columns);
  EXPECT_EQ((*columns)[3], u"xtail");
}

}  // namespace
}  // namespace corvane
