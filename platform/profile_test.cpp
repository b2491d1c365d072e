#include "platform/profile.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/confined_folder.h"
#include "tests/support/temp_dir.h"

#ifndef _WIN32
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {
namespace {

using testsupport::u16;

class ProfileTest : public ::testing::Test {
 protected:
  void put(const std::string& content) { testsupport::write_text(dir / "t.ini", content); }
  std::string content() const { return testsupport::read_text(dir / "t.ini"); }
  std::string read(const std::string& section, const std::string& key,
                   const std::string& def = "<none>", std::size_t size = 500) {
    return read_profile_string(file, section, key, def, size);
  }
  std::ptrdiff_t entries() const {
    return std::distance(std::filesystem::directory_iterator(dir.path()), {});
  }
  testsupport::TempDir dir;
  std::u16string file = u16(dir / "t.ini");
};

TEST_F(ProfileTest, ReadsValuesByNameWithoutRegardToCase) {
  put("; comment\r\n[Errors]\r\n  Status =  1  \r\nQuoted=\"a b \"\r\nSingle='x'\r\n"
      "Mixed=\"a b'\r\nOpen='a b\r\nClose=a b\"\r\nLone=\"\r\n[Other]\r\nStatus=2\r\n");
  EXPECT_EQ(read("errors", "STATUS"), "1");
  EXPECT_EQ(read("Errors", "Quoted"), "a b ");
  EXPECT_EQ(read("Errors", "Single"), "x");
  // Quotes are removed only when the same mark opens and closes the value.
  EXPECT_EQ(read("Errors", "Mixed"), "\"a b'");
  EXPECT_EQ(read("Errors", "Open"), "'a b");
  EXPECT_EQ(read("Errors", "Close"), "a b\"");
  EXPECT_EQ(read("Errors", "Lone"), "\"");
  EXPECT_EQ(read("Other", "status"), "2");
  EXPECT_EQ(read("Errors", "missing"), "<none>");
  EXPECT_EQ(read("Missing", "Status"), "<none>");
  EXPECT_EQ(read("Errors", "missing", "dflt   "), "dflt");  // the default loses trailing blanks
}

TEST_F(ProfileTest, ValueIsCutToTheBuffer) {
  put("[S]\nk=" + std::string(600, 'v') + "\n");
  EXPECT_EQ(read("S", "k").size(), 499u);
  EXPECT_EQ(read("S", "k", "", 4), "vvv");
  EXPECT_EQ(read("S", "missing", "defaultlong", 4), "def");
}

TEST_F(ProfileTest, MissingFileReadsTheDefaultAndWriteCreatesItButNoFolder) {
  EXPECT_EQ(read("Persistance", "running", "False"), "False");
  ASSERT_TRUE(write_profile_string(file, "Persistance", "running", "False"));
  EXPECT_EQ(read("Persistance", "running"), "False");
  EXPECT_FALSE(write_profile_string(u16(dir / "no" / "Client.ini"), "Errors", "Status", "1"));
  EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

TEST_F(ProfileTest, WritesKeepOtherSectionsAndKeys) {
  put("[Profile]\r\nName=Ann\r\n\r\n[Errors]\r\nStatus=0\r\nCount=3\r\n");
  ASSERT_TRUE(write_profile_string(file, "errors", "status", "1"));
  ASSERT_TRUE(write_profile_string(file, "Profile", "Age", "7"));
  ASSERT_TRUE(write_profile_string(file, "New", "key", "v"));
  EXPECT_EQ(read("Errors", "Status"), "1");
  EXPECT_EQ(read("Errors", "Count"), "3");
  EXPECT_EQ(read("Profile", "Name"), "Ann");
  EXPECT_EQ(read("Profile", "Age"), "7");
  EXPECT_EQ(read("New", "key"), "v");
}

// As with the system's routines, only the first of two sections of the same name counts: a
// key that only the second holds is not found, and writing it puts it into the first.
TEST_F(ProfileTest, OnlyTheFirstOfTwoSectionsOfTheSameNameCounts) {
  const std::string rest = "[Other]\r\nx=1\r\n[ERRORS]\r\nStatus=0\r\nCount=9\r\n";
  put("[Errors]\r\nCount=3\r\n" + rest);
  EXPECT_EQ(read("Errors", "Count"), "3");
  EXPECT_EQ(read("Errors", "Status"), "<none>");
  ASSERT_TRUE(write_profile_string(file, "Errors", "Status", "1"));
  ASSERT_TRUE(write_profile_string(file, "errors", "Count", "4"));
  EXPECT_EQ(read("Errors", "Status"), "1");
  EXPECT_EQ(read("Errors", "Count"), "4");
  EXPECT_EQ(read("Other", "x"), "1");
#ifndef _WIN32
  EXPECT_EQ(content(), "[Errors]\r\nCount=4\r\nStatus=1\r\n" + rest);
#endif
}

// The system's routines ignore the case of A to Z only: names that differ in the case of an
// accented letter (or of S with caron, a letter of the code page's own range) are different.
TEST_F(ProfileTest, AccentedLettersKeepTheirCaseInNames) {
  const std::string eleve = "\xC9l\xE8ve";
  put("[" + eleve + "]\r\nK\x8A=2\r\n\xC6sop=1\r\n");
  EXPECT_EQ(read("\xC9L\xE8VE", "k\x8A"), "2");
  EXPECT_EQ(read("\xE9l\xE8ve", "\xC6sop"), "<none>");
  EXPECT_EQ(read(eleve, "K\x9A"), "<none>");
  EXPECT_EQ(read(eleve, "\xE6sop"), "<none>");
  ASSERT_TRUE(write_profile_string(file, eleve, "\xE6sop", "3"));
  EXPECT_EQ(read(eleve, "\xC6sop"), "1");
  EXPECT_EQ(read(eleve, "\xE6sop"), "3");
#ifndef _WIN32
  EXPECT_EQ(content(), "[" + eleve + "]\r\nK\x8A=2\r\n\xC6sop=1\r\n\xE6sop=3\r\n");
#endif
}

TEST_F(ProfileTest, LineBreaksInTextsAreRefused) {
  EXPECT_FALSE(write_profile_string(file, "S", "k", "1\r\n[Evil]\r\nx=1"));
  EXPECT_FALSE(write_profile_string(file, "S]", "k", "1"));
  EXPECT_EQ(read("Evil", "x"), "<none>");
}

TEST_F(ProfileTest, OtherSpellingOfTheFileNameIsTheSameFile) {
  ASSERT_TRUE(write_profile_string(u16(dir / "Sorter.ini"), "Persistance", "running", "True"));
  ASSERT_TRUE(write_profile_string(u16(dir / "sorter.ini"), "Persistance", "running", "False"));
  EXPECT_EQ(read_profile_string(u16(dir / "SORTER.INI"), "Persistance", "running", "", 500),
            "False");
  EXPECT_EQ(entries(), 1);
}

#ifndef _WIN32
// The system's own routines reformat files as they like; ours change only the one line.

TEST_F(ProfileTest, WriteChangesOnlyTheOneLineByteForByte) {
  const std::string odd = "; keep me\n\x01\xFF garbage [\n=novalue\n  [Errors] trailing\n";
  put(odd + "Status = 0 ; note\r\nCount=3\r\n\r\n[Next]\r\n");
  ASSERT_TRUE(write_profile_string(file, "Errors", "Status", "1"));
  EXPECT_EQ(content(), odd + "Status =1\r\nCount=3\r\n\r\n[Next]\r\n");
  ASSERT_TRUE(write_profile_string(file, "Errors", "New", "x"));
  EXPECT_EQ(content(), odd + "Status =1\r\nCount=3\r\nNew=x\r\n\r\n[Next]\r\n");
}

TEST_F(ProfileTest, WriteAfterAFinalLineWithoutLineFeed) {
  put("[A]\nk=1");
  ASSERT_TRUE(write_profile_string(file, "A", "j", "2"));
  ASSERT_TRUE(write_profile_string(file, "B", "m", "3"));
  EXPECT_EQ(content(), "[A]\nk=1\r\nj=2\r\n[B]\r\nm=3\r\n");
}

TEST_F(ProfileTest, HandEditedFileWithOddLinesNeverCrashes) {
  using namespace std::string_literals;
  std::string junk = "[Broken\n\0\0\0=\n[]\n==\n;Status=9\n"s;
  junk += std::string(1 << 20, 'z');  // one line of a megabyte
  junk += "\n[Errors]\nStatus=4\n";
  put(junk);
  EXPECT_EQ(read("Errors", "Status"), "4");
  ASSERT_TRUE(write_profile_string(file, "Errors", "Status", "1"));
  EXPECT_EQ(read("Errors", "Status"), "1");
  EXPECT_EQ(content().size(), junk.size());
}
// A pupil's file keeps its owner, group and mode whatever a write changes, the bytes after the
// change included (more than one block of them, moved up or down). Without root, the file is
// the writer's own.
TEST_F(ProfileTest, WritesKeepTheFilesOwnerGroupAndMode) {
  const bool root = ::geteuid() == 0;
  const uid_t uid = root ? 12345 : ::geteuid();
  const gid_t gid = root ? 12346 : ::getegid();
  std::string rest = "[Big]\r\n";
  for (int i = 0; rest.size() < 100000; ++i) {
    rest += "k" + std::to_string(i) + "=" + std::to_string(i * 7) + "\r\n";
  }
  struct Change {
    const char* what;
    std::string before, section, key, value, after;
  };
  const Change changes[] = {
      {"same length", "[Errors]\r\nStatus=0\r\n" + rest, "Errors", "Status", "1",
       "[Errors]\r\nStatus=1\r\n" + rest},
      {"longer", "[Errors]\r\nStatus=0\r\n" + rest, "Errors", "Status", "12345",
       "[Errors]\r\nStatus=12345\r\n" + rest},
      {"shorter", "[Errors]\r\nStatus=a long value\r\n" + rest, "Errors", "Status", "1",
       "[Errors]\r\nStatus=1\r\n" + rest},
      {"key inserted", "[Errors]\r\nCount=3\r\n" + rest, "Errors", "Status", "1",
       "[Errors]\r\nCount=3\r\nStatus=1\r\n" + rest},
      {"section appended", "[Errors]\r\nStatus=0\r\n" + rest, "New", "k", "v",
       "[Errors]\r\nStatus=0\r\n" + rest + "[New]\r\nk=v\r\n"},
  };
  const auto folder = ConfinedFolder::open(u16(dir.path()));
  for (const Change& c : changes) {
    SCOPED_TRACE(c.what);
    put(c.before);
    ASSERT_EQ(::chown((dir / "t.ini").c_str(), uid, gid), 0);
    ASSERT_EQ(::chmod((dir / "t.ini").c_str(), 0640), 0);
    ASSERT_TRUE(write_profile_string(folder, u"T.INI", c.section, c.key, c.value));
    EXPECT_EQ(content(), c.after);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "t.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, uid);
    EXPECT_EQ(st.st_gid, gid);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
  }
}

// A link at the name is not written through; a second name of the file keeps the old content,
// while the written name gets the new one with the old owner, group and mode.
TEST_F(ProfileTest, NeitherALinkNorASecondNameIsWrittenThrough) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file another owner";
  namespace fs = std::filesystem;
  const auto folder = ConfinedFolder::open(u16(dir.path()));
  put("[Errors]\r\nStatus=0\r\n");
  ASSERT_EQ(::chown((dir / "t.ini").c_str(), 12345, 12346), 0);
  ASSERT_EQ(::chmod((dir / "t.ini").c_str(), 0640), 0);
  fs::create_symlink(dir / "t.ini", dir / "link.ini");
  fs::create_hard_link(dir / "t.ini", dir / "other.ini");
  EXPECT_FALSE(write_profile_string(folder, u"link.ini", "Errors", "Status", "1"));
  EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
  EXPECT_EQ(content(), "[Errors]\r\nStatus=0\r\n");

  ASSERT_TRUE(write_profile_string(folder, u"t.ini", "Errors", "Status", "1"));
  EXPECT_EQ(content(), "[Errors]\r\nStatus=1\r\n");
  EXPECT_EQ(testsupport::read_text(dir / "other.ini"), "[Errors]\r\nStatus=0\r\n");
  struct stat st {};
  ASSERT_EQ(::stat((dir / "t.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_nlink, 1u);
  EXPECT_EQ(st.st_uid, 12345u);
  EXPECT_EQ(st.st_gid, 12346u);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(entries(), 3) << "the new content's temporary file took the name";
}

// A writer that may not write the file, and cannot give a new one the file's owner, leaves it
// as it is, even where the folder would let it replace the file.
TEST_F(ProfileTest, AFileTheWriterMayNotWriteStaysAsItIs) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  put("[Errors]\r\nStatus=0\r\n");
  ASSERT_EQ(::chown((dir / "t.ini").c_str(), 12345, 12346), 0);
  ASSERT_EQ(::chmod((dir / "t.ini").c_str(), 0644), 0);
  const auto folder = ConfinedFolder::open(u16(dir.path()));
  bool written = true;
  std::thread service_user([&] {
    ::setfsuid(65534);  // this thread only, without the privileges of root
    written = write_profile_string(folder, u"t.ini", "Errors", "Status", "1");
    ::setfsuid(0);
  });
  service_user.join();
  EXPECT_FALSE(written);
  EXPECT_EQ(content(), "[Errors]\r\nStatus=0\r\n");
  struct stat st {};
  ASSERT_EQ(::stat((dir / "t.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 12345u);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(entries(), 1) << "no new content left beside it";
}
#endif

}  // namespace
}  // namespace platform
