#include "sorter/ui/ui_text.h"

#include <gtest/gtest.h>

namespace sorter::ui {
namespace {

TEST(AboutText, VersionLinePrintsPlainDecimalNumbers) {
  EXPECT_EQ(version_line({1, 0, 82, L"15th May 2007 (16:40:00)"}),
            L"Version 1.0.82 - 15th May 2007 (16:40:00)");
  EXPECT_EQ(version_line({10, 5, 0, L""}), L"Version 10.5.0 - ");
}

TEST(AboutText, LinesAreSeparatedByCarriageReturnsOnly) {
  const std::wstring text = about_text({1, 0, 82, L"c"});
  EXPECT_EQ(text, std::wstring(L"Quenby E-mail Sorter\rVersion 1.0.82 - c\r\r") + kAboutCredits +
                      L"\r\r" + kAboutCopyright);
  EXPECT_EQ(text.find(L'\n'), std::wstring::npos);
}

TEST(ExitQuestion, KeepsQuotesAndSeparatesTheQuestionWithTwoCarriageReturns) {
  const std::wstring text = kExitQuestion;
  EXPECT_NE(text.find(L"their \"Quenby E-mail\".\r\rProceed?"), std::wstring::npos);
  EXPECT_EQ(text.find(L'\n'), std::wstring::npos);
  EXPECT_EQ(kExitStyle, 0x114u);
}

}  // namespace
}  // namespace sorter::ui
