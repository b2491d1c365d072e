#include "platform/posix/safe_open.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "tests/support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// What the name is when it is opened, and the refusal expected of it.
struct Refused {
  const char* name;
  int flags;
  int error;
};

class SafeOpen : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::write_bytes(dir / "file", {'x'});
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    fs::create_symlink(dir / "file", dir / "link");
    folder_fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder_fd, 0);
  }
  void TearDown() override { ::close(folder_fd); }
  testsupport::TempDir dir;
  int folder_fd = -1;
};

// A FIFO opened for reading would wait for a writer, opened for writing for a reader: both are
// refused at once, as folders and links are, beneath a folder's descriptor and by path.
TEST_F(SafeOpen, RefusesWhatIsNotARegularFileWithoutWaiting) {
  const Refused cases[] = {
      {"fifo", O_RDONLY, ENXIO},         {"fifo", O_WRONLY, ENXIO},
      {"fifo", O_RDWR | O_CREAT, ENXIO}, {"folder", O_RDONLY, ENXIO},
      {"folder", O_RDWR, ENXIO},         {"link", O_RDONLY, ELOOP},
      {"link", O_WRONLY | O_CREAT, ELOOP},
  };
  for (const Refused& c : cases) {
    errno = 0;
    EXPECT_EQ(open_regular_file(folder_fd, c.name, c.flags, 0600), -1) << c.name << c.flags;
    EXPECT_TRUE(errno == c.error || (c.error == ELOOP && errno == EXDEV))
        << c.name << " " << c.flags << ": " << errno;
    errno = 0;
    const std::string path = (dir / c.name).string();
    EXPECT_EQ(open_regular_file(AT_FDCWD, path.c_str(), c.flags, 0600), -1) << path;
    EXPECT_EQ(errno, c.error) << path << " " << c.flags;
  }
  EXPECT_EQ(testsupport::read_bytes(dir / "file"), std::vector<uint8_t>{'x'});
}

// The regular file's descriptor blocks again (O_NONBLOCK was for the open only, unless the
// caller asked for it too), keeps the other status flags it was opened with, is not inherited
// by programs the process starts, and the status handed back is the open file's.
TEST_F(SafeOpen, OpensARegularFileBlockingAndCloseOnExec) {
  struct Opened {
    int fd;
    int kept;  // the status flags asked for, which the descriptor must have
    struct stat status;
  };
  auto open_file = [&](int at, const char* name, int flags, mode_t mode = 0) {
    Opened o{-1, flags & (O_APPEND | O_NOATIME | O_NONBLOCK), {}};
    o.fd = open_regular_file(at, name, flags, mode, &o.status);
    return o;
  };
  const std::string path = (dir / "file").string();
  for (const Opened& o : {open_file(folder_fd, "file", O_RDONLY | O_NOATIME),
                          open_file(folder_fd, "file", O_RDONLY | O_NONBLOCK),
                          open_file(folder_fd, "new", O_WRONLY | O_CREAT | O_EXCL, 0600),
                          open_file(AT_FDCWD, path.c_str(), O_RDWR | O_APPEND)}) {
    ASSERT_GE(o.fd, 0) << errno;
    const int status = ::fcntl(o.fd, F_GETFL);
    EXPECT_EQ(status & (O_APPEND | O_NOATIME | O_NONBLOCK), o.kept);
    EXPECT_NE(::fcntl(o.fd, F_GETFD) & FD_CLOEXEC, 0);
    struct stat st {};
    ASSERT_EQ(::fstat(o.fd, &st), 0);
    EXPECT_EQ(o.status.st_ino, st.st_ino);
    EXPECT_EQ(o.status.st_dev, st.st_dev);
    EXPECT_TRUE(S_ISREG(o.status.st_mode));
    ::close(o.fd);
  }
  EXPECT_TRUE(fs::is_regular_file(dir / "new"));
}

}  // namespace
}  // namespace platform
