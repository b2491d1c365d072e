#include "platform/drop_file.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

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

#ifndef _WIN32
// Bytes read ahead are the file's bytes, whatever the read's offset and length across the end of
// what was read ahead and the end of the file, also after the handle changed hands.
TEST(DropFile, BytesReadAheadAreTheFilesBytesAtEveryOffset) {
  TempDir dir;
  std::vector<uint8_t> content(40);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>('A' + i);
  testsupport::write_bytes(dir / "m.eml", content);
  DropFolder folder(u16(dir.path()));
  for (const std::size_t ahead : {std::size_t{0}, std::size_t{1}, std::size_t{16}, std::size_t{40},
                                  std::size_t{1000}}) {
    SCOPED_TRACE(ahead);
    DropOpenResult opened = folder.open(u"m.eml");
    ASSERT_EQ(opened.status, DropOpenStatus::opened);
    opened.file->read_ahead(ahead);
    DropFile file = std::move(*opened.file);
    for (std::size_t offset = 0; offset <= content.size() + 2; ++offset) {
      for (const std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{15},
                                       std::size_t{17}, std::size_t{64}}) {
        std::vector<uint8_t> out(length, '?');
        const std::size_t got = file.read_at(offset, out);
        const std::size_t want = offset >= content.size() ? 0 : std::min(length, content.size() - offset);
        ASSERT_EQ(got, want) << offset << "+" << length;
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(got),
                               content.begin() + static_cast<std::ptrdiff_t>(offset)))
            << offset << "+" << length;
      }
    }
  }
}
#endif

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

// A pupil may hold a write lease on her own e-mail (her process ignoring the signal that asks
// her to give it up): the open that does not wait finds it in use, not unreadable, and once the
// lease is gone the file opens.
TEST(DropFile, AFileUnderAnotherProcesssWriteLeaseIsInUse) {
  TempDir dir;
  testsupport::write_bytes(dir / "leased.eml", {'m', 'a', 'i', 'l'});
  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  const std::string path = (dir / "leased.eml").string();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    ::close(done[1]);  // so that the test's end, whatever it is, ends this process too
    ::signal(SIGIO, SIG_IGN);
    const int fd = ::open(path.c_str(), O_RDWR);
    const char ok = fd >= 0 && ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0 ? 'y' : 'n';
    char end;
    if (::write(ready[1], &ok, 1) != 1) _exit(1);
    while (::read(done[0], &end, 1) > 0) {
    }
    _exit(0);
  }
  ::close(ready[1]);
  ::close(done[0]);
  char ok = 'n';
  const bool told = ::read(ready[0], &ok, 1) == 1;
  DropFolder folder(u16(dir.path()));
  std::optional<DropOpenStatus> under_lease;
  try {
    under_lease = folder.open(u"leased.eml").status;
  } catch (const AutomationError&) {
    // left empty: the file was taken as unreadable
  }
  ::close(done[1]);
  ::close(ready[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(told && ok == 'y') << "the lease was not granted";
  EXPECT_EQ(under_lease, DropOpenStatus::in_use);
  EXPECT_EQ(folder.open(u"leased.eml").status, DropOpenStatus::opened);
}

// A pupil may put a link, a FIFO or another file at the name of her e-mail after the sorter
// opened and read it. Given the identity of the file it holds, a move by any method moves that
// file or nothing, and what took the name keeps it; without the identity the same move
// carries what took the name into the target folder (the file system's own answer, which
// shows that the swap is real).
TEST(DropFile, AMoveGivenTheHeldFilesIdentityNeverCarriesWhatTookItsName) {
  enum class Plant { link, fifo, other_file };
  for (const MoveMethod method : {MoveMethod::automatic, MoveMethod::link, MoveMethod::copy,
                                  MoveMethod::copy_checked_rename}) {
    for (const Plant plant : {Plant::link, Plant::fifo, Plant::other_file}) {
      for (const bool swap : {true, false}) {
        SCOPED_TRACE(testing::Message() << "method " << static_cast<int>(method) << ", plant "
                                        << static_cast<int>(plant) << ", swap " << swap);
        TempDir dir;
        fs::create_directories(dir / "drop");
        fs::create_directories(dir / "inbox");
        testsupport::write_bytes(dir / "drop" / "a.eml", {'r', 'e', 'a', 'd'});
        testsupport::write_bytes(dir / "secret", {'s'});
        DropOpenResult opened = DropFolder(u16(dir / "drop")).open(u"a.eml");
        ASSERT_EQ(opened.status, DropOpenStatus::opened);
        if (swap) {
          const fs::path temp = dir / "drop" / "t";
          if (plant == Plant::link) fs::create_symlink(dir / "secret", temp);
          if (plant == Plant::fifo) ASSERT_EQ(::mkfifo(temp.c_str(), 0600), 0);
          if (plant == Plant::other_file) testsupport::write_bytes(temp, {'n', 'e', 'w'});
          fs::rename(temp, dir / "drop" / "a.eml");
        }
        const ConfinedFolder drop = ConfinedFolder::open(u16(dir / "drop"));
        const ConfinedFolder inbox = ConfinedFolder::open(u16(dir / "inbox"));
        std::optional<int32_t> failure;
        try {
          drop.move_file(u"a.eml", inbox, u"a.eml", method, opened.file->identity());
        } catch (const AutomationError& e) {
          failure = e.number();
        }
        const auto arrived = fs::symlink_status(dir / "inbox" / "a.eml");
        if (!swap) {
          EXPECT_EQ(failure, std::nullopt);
          EXPECT_EQ(testsupport::read_bytes(dir / "inbox" / "a.eml"),
                    (std::vector<uint8_t>{'r', 'e', 'a', 'd'}));
          continue;
        }
        ASSERT_TRUE(failure.has_value());
        EXPECT_FALSE(fs::exists(arrived)) << "what took the name was moved";
        const auto left = fs::symlink_status(dir / "drop" / "a.eml");
        EXPECT_EQ(left.type(), plant == Plant::link   ? fs::file_type::symlink
                               : plant == Plant::fifo ? fs::file_type::fifo
                                                      : fs::file_type::regular);
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir / "drop")) {
          names.push_back(e.path().filename().string());
        }
        EXPECT_EQ(names, std::vector<std::string>{"a.eml"}) << "a claim or copy left behind";
        if (method == MoveMethod::automatic) {
          EXPECT_EQ(failure, errnum::kFileNotFound);
          drop.move_file(u"a.eml", inbox, u"a.eml", method);  // the oracle: no identity given
          EXPECT_EQ(fs::symlink_status(dir / "inbox" / "a.eml").type(), left.type());
        }
      }
    }
  }
}
#endif

}  // namespace
}  // namespace platform
