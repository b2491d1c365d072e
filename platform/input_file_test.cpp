#include "platform/input_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/automation_error.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

using testsupport::TempDir;
using testsupport::u16;

int open_error(const std::u16string& path) {
  try {
    InputFile::open(path);
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

TEST(InputFile, ReadsTheWholeFileInChunksAndThenReportsTheEnd) {
  TempDir dir;
  testsupport::write_bytes(dir / "f.csv", {'a', 'b', 'c', 'd', 'e'});
  InputFile file = InputFile::open(u16(dir / "f.csv"));
  std::vector<uint8_t> buffer(2);
  std::vector<uint8_t> all;
  while (const std::size_t n = file.read(buffer)) {
    all.insert(all.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
  }
  EXPECT_EQ(all, (std::vector<uint8_t>{'a', 'b', 'c', 'd', 'e'}));
  EXPECT_EQ(file.read(buffer), 0u);
  file.close();
  file.close();
}

TEST(InputFile, RefusesWhatItCannotReadWithoutCreatingAnything) {
  TempDir dir;
  EXPECT_EQ(open_error(u""), errnum::kBadFileName);
  EXPECT_EQ(open_error(u16(dir / "missing.csv")), errnum::kFileNotFound);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.csv"));
  EXPECT_EQ(open_error(u16(dir / "no-folder" / "x.csv")), errnum::kPathNotFound);
  EXPECT_EQ(open_error(u16(dir.path())), errnum::kPathFileAccess);
}

}  // namespace
}  // namespace platform
