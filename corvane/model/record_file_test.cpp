#include "corvane/model/record_file.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "corvane/model/record_codec.h"
#include "platform/automation_error.h"
#include "tests/support/error_of.h"
#include "tests/support/sample_email.h"
#include "tests/support/temp_dir.h"

namespace corvane {
namespace {

using testsupport::error_of;
using testsupport::read_bytes;
using testsupport::sample_email;
using testsupport::TempDir;
using testsupport::u16;
using testsupport::write_bytes;

// A record reads back equal; a shorter one written over a longer file leaves its tail, and
// reads back short.
TEST(RecordFile, RecordsReadBackAndAShorterOneLeavesTheLongerFilesTail) {
  TempDir dir;
  const auto path = u16(dir / "a.eml");
  write_record_file(path, sample_email());
  EmailMsg back;
  read_record_file(path, back);
  EXPECT_EQ(back, sample_email());
  auto expected = read_bytes(dir / "a.eml");
  write_record_file(path, EmailMsg{});
  std::fill_n(expected.begin(), 26, uint8_t{0});
  EXPECT_EQ(read_bytes(dir / "a.eml"), expected);
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
  const auto path = u16(dir / "nowhere" / "l.les");
  EXPECT_EQ(error_of([&] { read_record_file(path, lesson); }), platform::errnum::kPathNotFound);
  EXPECT_EQ(error_of([&] { write_record_file(path, lesson); }), platform::errnum::kPathNotFound);
}

TEST(RecordFile, EncodingFailureLeavesTheFileUntouched) {
  TempDir dir;
  write_bytes(dir / "a.eml", {9, 9, 9});
  EmailMsg m;
  m.emSubject = std::u16string(70000, u'x');
  EXPECT_EQ(error_of([&] { write_record_file(u16(dir / "a.eml"), m); }),
            platform::errnum::kBadRecordLength);
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
  EXPECT_EQ(error_of([&] { read_record_file(u16(dir / "bad.eml"), m); }),
            platform::errnum::kBadRecordLength);
  EXPECT_EQ(m.emTo, u"Tom");
  EXPECT_EQ(m.emFrom, u"Ann");
}

}  // namespace
}  // namespace corvane
