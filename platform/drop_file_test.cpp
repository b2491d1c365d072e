#include "platform/drop_file.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>

#include "platform/automation_error.h"
#include "platform/binary_file.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::u16;

TEST(DropFile, ReadsThroughTheHandleWhateverHappensToTheName) {
  TempDir dir;
  testsupport::write_bytes(dir / "m.eml", {'a', 'b', 'c', 'd', 'e'});
  DropFolder folder(u16(dir.path()));
  DropOpenResult opened = folder.open(u"m.eml");
  ASSERT_EQ(opened.status, DropOpenStatus::opened);
  DropFile& file = *opened.file;
  EXPECT_EQ(file.facts().kind, EntryKind::file);
  EXPECT_EQ(file.facts().size, 5u);
  EXPECT_LT(file.facts().age_seconds, 60.0);
  EXPECT_EQ(file.writers(), Writers::none);
  file.close();  // Windows: a file open without shared deletion cannot be renamed
  opened = folder.open(u"m.eml");
  ASSERT_EQ(opened.status, DropOpenStatus::opened);
#ifndef _WIN32
  fs::rename(dir / "m.eml", dir / "elsewhere.eml");
  testsupport::write_bytes(dir / "m.eml", {'x'});
#endif
  std::vector<uint8_t> bytes(3);
  EXPECT_EQ(opened.file->read_at(2, bytes), 3u);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{'c', 'd', 'e'}));
  EXPECT_EQ(opened.file->read_at(4, bytes), 1u);
  EXPECT_EQ(opened.file->read_at(9, bytes), 0u);
}

// Readers that take a path (the COM OpenEmail opens for reading and writing) get in while the
// round's handle keeps the file in place.
TEST(DropFile, SharedForOpenByNameLetsAReadWriteOpenIn) {
  TempDir dir;
  testsupport::write_bytes(dir / "m.eml", {1, 2, 3, 4});
  DropFolder folder(u16(dir.path()));
  DropOpenResult opened = folder.open(u"m.eml");
  ASSERT_EQ(opened.status, DropOpenStatus::opened);
  opened.file->share_for_open_by_name();
  BinaryFile other = BinaryFile::open_read_write(u16(dir / "m.eml"));
  EXPECT_EQ(other.read_from_start().size(), 4u);
  other.close();
  std::vector<uint8_t> bytes(4);
  EXPECT_EQ(opened.file->read_at(0, bytes), 4u);
}

TEST(DropFile, AMissingFileIsGoneAndNotCreated) {
  TempDir dir;
  DropFolder folder(u16(dir.path()));
  EXPECT_EQ(folder.open(u"none.eml").status, DropOpenStatus::gone);
  EXPECT_FALSE(fs::exists(dir / "none.eml"));
  EXPECT_THROW(folder.open(u"../x"), AutomationError);
  EXPECT_THROW(DropFolder(u16(dir / "missing")), AutomationError);
}

TEST(DropFile, WritersAreSeenUntilTheyClose) {
  TempDir dir;
  DropFolder folder(u16(dir.path()));
  std::optional<std::ofstream> writer(std::in_place, dir / "slow.eml", std::ios::binary);
  DropOpenResult opened = folder.open(u"slow.eml");
  // Windows refuses the open itself; elsewhere the handle tells.
  if (opened.status == DropOpenStatus::opened) {
    EXPECT_EQ(opened.file->writers(), Writers::present);
    opened.file->close();
  } else {
    EXPECT_EQ(opened.status, DropOpenStatus::in_use);
  }
  writer.reset();
  opened = folder.open(u"slow.eml");
  ASSERT_EQ(opened.status, DropOpenStatus::opened);
  EXPECT_EQ(opened.file->writers(), Writers::none);
}

#ifndef _WIN32
TEST(DropFile, LinksAreNotFollowedAndFifosDoNotBlock) {
  TempDir dir;
  testsupport::write_bytes(dir / "target.eml", {'s', 'e', 'c', 'r', 'e', 't'});
  fs::create_symlink(dir / "target.eml", dir / "link.eml");
  fs::create_symlink(dir / "nowhere.eml", dir / "dangling.eml");
  ASSERT_EQ(::mkfifo((dir / "fifo.eml").c_str(), 0600), 0);
  fs::create_directory(dir / "sub");
  DropFolder folder(u16(dir.path()));
  EXPECT_EQ(folder.open(u"link.eml").status, DropOpenStatus::link);
  EXPECT_EQ(folder.open(u"dangling.eml").status, DropOpenStatus::link);
  EXPECT_FALSE(fs::exists(dir / "nowhere.eml"));
  // Not a file to sort, as a folder is not on Windows; the FIFO's open does not wait.
  EXPECT_EQ(folder.open(u"fifo.eml").status, DropOpenStatus::gone);
  EXPECT_EQ(folder.open(u"sub").status, DropOpenStatus::gone);
}
#endif

}  // namespace
}  // namespace platform
