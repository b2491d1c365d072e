// SaveEmail, OpenEmail (the record with its failure), AddAttachment and IsRead.

#include <gtest/gtest.h>

#include <filesystem>

#include "corvane/object_model/mail_object_model.h"
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

class Email : public ::testing::Test {
 protected:
  TempDir dir;
  MailObjectModel model;
};

// A save and an open that succeed leave ErrorString as it is: empty at first, then the message
// of the last failure.
TEST_F(Email, FailuresAreAnsweredAndWrittenToErrorStringWhichSuccessesKeep) {
  const auto path = u16(dir / "m.eml");
  const auto save_and_open = [&] {
    ASSERT_TRUE(model.SaveEmail(path, sample_email()));
    const auto [email, failure] = model.OpenEmail(path);
    EXPECT_EQ(email, sample_email());
    EXPECT_FALSE(failure.has_value());
  };
  save_and_open();
  EXPECT_EQ(model.ErrorString(), u"");

  EXPECT_FALSE(model.SaveEmail(u16(dir / "missing" / "m.eml"), sample_email()));
  EXPECT_EQ(model.ErrorString(), u"SaveEmail Error: \"Path not found\" (76)");
  save_and_open();
  EXPECT_EQ(model.ErrorString(), u"SaveEmail Error: \"Path not found\" (76)");

  const auto [back, failure] = model.OpenEmail(u16(dir / "missing" / "m.eml"));
  EXPECT_EQ(back, EmailMsg{});
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->number(), platform::errnum::kPathNotFound);
  EXPECT_EQ(failure->description(), u"Path not found");
  EXPECT_EQ(failure->source(), u"Corvane.MailObjectModel");
  EXPECT_EQ(model.ErrorString(), u"OpenEmail: Corvane.MailObjectModel\r\nPath not found");
  save_and_open();
  EXPECT_EQ(model.ErrorString(), u"OpenEmail: Corvane.MailObjectModel\r\nPath not found");
}

TEST_F(Email, OpenOfAMissingOrEmptyFileGivesTheEmptyRecordQuietly) {
  model.set_ErrorString(u"kept");
  const auto missing = dir / "new.eml";
  const auto created = model.OpenEmail(u16(missing));
  EXPECT_EQ(created.email, EmailMsg{});
  EXPECT_FALSE(created.failure.has_value());
  EXPECT_TRUE(std::filesystem::exists(missing));
  EXPECT_EQ(std::filesystem::file_size(missing), 0u);
  const auto empty = model.OpenEmail(u16(missing));  // now a zero-length file
  EXPECT_EQ(empty.email, EmailMsg{});
  EXPECT_FALSE(empty.failure.has_value());
  EXPECT_EQ(model.ErrorString(), u"kept");
}

TEST_F(Email, DamagedFileGivesThePartialRecordAndItsFailure) {
  const auto path = dir / "bad.eml";
  // Signature, read flag, four texts, then a body list with three dimensions.
  write_bytes(path, {1, 2, 3, 1, 2, 0, 'T', 'o', 0, 0, 0, 0, 0, 0, 3, 0});
  const auto [back, failure] = model.OpenEmail(u16(path));
  EXPECT_EQ(back.emTo, u"To");
  EXPECT_EQ(back.emRead, 1);
  const std::u16string_view expected = u"OpenEmail: Corvane.MailObjectModel\r\nBad record length";
  EXPECT_EQ(model.ErrorString().rfind(expected, 0), 0u);
  ASSERT_TRUE(failure.has_value());
  EXPECT_NE(failure->number(), 0);
}

TEST_F(Email, AddAttachmentCopiesAndRecordsThePathAsGiven) {
  write_bytes(dir / "a.txt", {'o', 'n', 'e'});
  write_bytes(dir / "b.txt", {'t', 'w', 'o', '!'});
  write_bytes(dir / "copy2.txt", {'o', 'l', 'd', ' ', 'l', 'o', 'n', 'g'});
  EmailMsg m = sample_email();
  const auto first = u16(dir / "copy1.txt");
  const auto second = u16(dir / "copy2.txt");
  ASSERT_TRUE(model.AddAttachment(u16(dir / "a.txt"), first, m));
  EXPECT_EQ(m.emAttachments.FilePath, first);
  ASSERT_TRUE(model.AddAttachment(u16(dir / "b.txt"), second, m));
  EXPECT_EQ(m.emAttachments.FilePath, second);
  EXPECT_EQ(read_bytes(dir / "copy1.txt"), (std::vector<uint8_t>{'o', 'n', 'e'}));
  EXPECT_EQ(read_bytes(dir / "copy2.txt"), (std::vector<uint8_t>{'t', 'w', 'o', '!'}));
  EXPECT_EQ(model.ErrorString(), u"");
}

TEST_F(Email, AddAttachmentFailureLeavesTheRecordUnchanged) {
  EmailMsg m = sample_email();
  EXPECT_FALSE(model.AddAttachment(u16(dir / "none.txt"), u16(dir / "copy.txt"), m));
  EXPECT_EQ(m, sample_email());
  EXPECT_EQ(model.ErrorString(), u"AddAttachment Error: \"File not found\" & (53)");

  write_bytes(dir / "a.txt", {'x'});
  EXPECT_FALSE(model.AddAttachment(u16(dir / "a.txt"), u16(dir / "missing" / "c.txt"), m));
  EXPECT_EQ(m, sample_email());
  EXPECT_EQ(model.ErrorString().rfind(u"AddAttachment Error: \"", 0), 0u);
  EXPECT_NE(model.ErrorString().find(u"\" & ("), std::u16string::npos);
}

TEST_F(Email, IsReadLooksAtTheFourthByteOnly) {
  const auto path = dir / "r.eml";
  const std::vector<std::pair<std::vector<uint8_t>, bool>> cases = {
      {{}, false},
      {{1}, false},
      {{1, 1, 1}, false},
      {{1, 1, 1, 0}, false},
      {{0, 0, 0, 1}, true},
      {{0, 0, 0, 255}, true},
      {{0, 0, 0, 0, 9, 9}, false},
      {{0, 0, 0, 2, 0, 0}, true},
  };
  for (const auto& [bytes, expected] : cases) {
    write_bytes(path, bytes);
    EXPECT_EQ(model.IsRead(u16(path)), expected) << bytes.size() << " bytes";
  }
}

TEST_F(Email, IsReadOfAMissingFileCreatesItAndAMissingFolderFails) {
  const auto path = dir / "new.eml";
  EXPECT_FALSE(model.IsRead(u16(path)));
  EXPECT_TRUE(std::filesystem::exists(path));
  try {
    (void)model.IsRead(u16(dir / "missing" / "r.eml"));
    ADD_FAILURE() << "IsRead did not fail";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), platform::errnum::kPathNotFound);
    EXPECT_EQ(e.source(), u"Corvane.MailObjectModel");
  }
  EXPECT_EQ(model.ErrorString(), u"");
}

}  // namespace
}  // namespace corvane
