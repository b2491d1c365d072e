#include "platform/binary_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/automation_error.h"
#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

using testsupport::read_bytes;
using testsupport::TempDir;
using testsupport::u16;
using testsupport::write_bytes;

int error_number_of(const std::u16string& path) {
  return testsupport::error_of([&] { BinaryFile::open_read_write(path); });
}

TEST(BinaryFile, CreatesAMissingFileEmpty) {
  TempDir dir;
  auto file = BinaryFile::open_read_write(u16(dir / "new.eml"));
  EXPECT_EQ(file.size(), 0u);
  EXPECT_TRUE(file.read_from_start().empty());
  file.close();
  EXPECT_TRUE(std::filesystem::exists(dir / "new.eml"));
}

TEST(BinaryFile, WritesFromTheFirstByteAndKeepsALongerTail) {
  TempDir dir;
  write_bytes(dir / "f", {1, 2, 3, 4, 5, 6});
  auto file = BinaryFile::open_read_write(u16(dir / "f"));
  const uint8_t update[] = {9, 8};
  file.write_at_start(update);
  file.close();
  EXPECT_EQ(read_bytes(dir / "f"), (std::vector<uint8_t>{9, 8, 3, 4, 5, 6}));
}

TEST(BinaryFile, ReadsAPrefixOnly) {
  TempDir dir;
  write_bytes(dir / "f", {1, 2, 3, 4, 5});
  auto file = BinaryFile::open_read_write(u16(dir / "f"));
  EXPECT_EQ(file.read_from_start(4), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(file.read_from_start(99).size(), 5u);
}

TEST(BinaryFile, ReportsOpenFailuresWithClassicNumbers) {
  TempDir dir;
  EXPECT_EQ(error_number_of(u""), errnum::kBadFileName);
  EXPECT_EQ(error_number_of(u16(dir / "no-such-folder" / "f")), errnum::kPathNotFound);
  EXPECT_EQ(error_number_of(u16(dir.path())), errnum::kPathFileAccess);  // a folder
}

TEST(BinaryFile, ErrorsCarryTheStandardDescription) {
  try {
    BinaryFile::open_read_write(u"");
    FAIL() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.description(), u"Bad file name or number");
    EXPECT_TRUE(e.source().empty());
  }
}

#ifndef _WIN32
// Running as root bypasses permission bits, so only check when they bind.
TEST(BinaryFile, OpensAReadOnlyFileForReadingAlone) {
  TempDir dir;
  write_bytes(dir / "ro", {7, 7});
  std::filesystem::permissions(dir / "ro", std::filesystem::perms::owner_read,
                               std::filesystem::perm_options::replace);
  auto file = BinaryFile::open_read_write(u16(dir / "ro"));
  EXPECT_EQ(file.read_from_start(), (std::vector<uint8_t>{7, 7}));
  const uint8_t update[] = {1};
  if (::geteuid() != 0) {
    EXPECT_EQ(testsupport::error_of([&] { file.write_at_start(update); }), errnum::kPathFileAccess);
  }
}
#else
TEST(BinaryFile, OpensAReadOnlyFileForReadingAlone) {
  TempDir dir;
  write_bytes(dir / "ro", {7, 7});
  std::filesystem::permissions(dir / "ro", std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  // Wine running as root may still open the file for writing; what must hold everywhere
  // is that a read-only e-mail can be read.
  auto file = BinaryFile::open_read_write(u16(dir / "ro"));
  EXPECT_EQ(file.read_from_start(), (std::vector<uint8_t>{7, 7}));
}
#endif

}  // namespace
}  // namespace platform
