#include "corvane/model/record_file.h"

#include <gtest/gtest.h>

#include "corvane/model/record_codec.h"
#include "platform/automation_error.h"
#include "tests/support/sample_email.h"
#include "tests/support/temp_dir.h"

namespace corvane {
namespace {

using platform::AutomationError;
using testsupport::read_bytes;
using testsupport::sample_email;
using testsupport::TempDir;
using testsupport::u16;
using testsupport::write_bytes;

TEST(RecordFile, WriteThenReadGivesAnEqualRecord) {
  TempDir dir;
  const auto path = u16(dir / "a.eml");
  write_record_file(path, sample_email());
  EmailMsg back;
  read_record_file(path, back);
  EXPECT_EQ(back, sample_email());
}

TEST(RecordFile, ShorterRecordOverALongerFileKeepsTheTailAndReadsBackShort) {
  TempDir dir;
  const auto path = u16(dir / "a.eml");
  write_record_file(path, sample_email());
  const auto old_bytes = read_bytes(dir / "a.eml");
  write_record_file(path, EmailMsg{});
  const auto new_bytes = read_bytes(dir / "a.eml");
  ASSERT_EQ(new_bytes.size(), old_bytes.size());
  EXPECT_EQ(std::vector<uint8_t>(new_bytes.begin(), new_bytes.begin() + 26),
            std::vector<uint8_t>(26, 0));
  EXPECT_TRUE(std::equal(new_bytes.begin() + 26, new_bytes.end(), old_bytes.begin() + 26));
  EmailMsg back = sample_email();
  back = EmailMsg{};
  read_record_file(path, back);
  EXPECT_EQ(back, EmailMsg{});
}

TEST(RecordFile, ReadingAMissingFileCreatesItEmpty) {
  TempDir dir;
  MsgContents c;
  read_record_file(u16(dir / "t.tpl"), c);
  EXPECT_EQ(c, MsgContents{});
  EXPECT_TRUE(std::filesystem::exists(dir / "t.tpl"));
  EXPECT_EQ(std::filesystem::file_size(dir / "t.tpl"), 0u);
}

TEST(RecordFile, MissingFolderFailsWithPathNotFound) {
  TempDir dir;
  EmailLesson lesson;
  try {
    read_record_file(u16(dir / "nowhere" / "l.les"), lesson);
    FAIL() << "read from a missing folder succeeded";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), platform::errnum::kPathNotFound);
    EXPECT_EQ(e.description(), u"Path not found");
  }
  EXPECT_THROW(write_record_file(u16(dir / "nowhere" / "l.les"), lesson), AutomationError);
}

TEST(RecordFile, EncodingFailureLeavesTheFileUntouched) {
  TempDir dir;
  write_bytes(dir / "a.eml", {9, 9, 9});
  EmailMsg m;
  m.emSubject = std::u16string(70000, u'x');
  EXPECT_THROW(write_record_file(u16(dir / "a.eml"), m), AutomationError);
  EXPECT_EQ(read_bytes(dir / "a.eml"), (std::vector<uint8_t>{9, 9, 9}));
}

TEST(RecordFile, DamagedFileFailsWithThePartialRecord) {
  TempDir dir;
  auto bytes = encode_record(sample_email());
  bytes.resize(14);                     // signature, flag, emTo, emFrom
  bytes.insert(bytes.end(), {0, 0, 0, 0});  // empty emCC and emSubject
  bytes.insert(bytes.end(), {7, 0});        // a seven-dimensional Texts list
  write_bytes(dir / "bad.eml", bytes);
  EmailMsg m;
  EXPECT_THROW(read_record_file(u16(dir / "bad.eml"), m), AutomationError);
  EXPECT_EQ(m.emTo, u"Tom");
  EXPECT_EQ(m.emFrom, u"Ann");
}

}  // namespace
}  // namespace corvane
