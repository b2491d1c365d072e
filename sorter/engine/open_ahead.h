#pragma once
// The drop folder's files, listed and opened ahead of the round on a thread of its own.
//
// A round spends most of its time moving files (a rename that journals two folders); the
// listing, the safe open, its fstat, the question who writes the file and, once nobody can,
// the read of its first 16 KiB need none of the round's state. So while the round moves one file, this thread lists and opens the next ones,
// and closes the files the round is done with (closing also gives the read lease up). The round
// takes the files in the listing's order, each with what its open and its question answered,
// exactly as it would have found them itself a moment later: what happens to the file
// meanwhile is what the round's own checks before the move are for (the lease broken, the
// name no longer holding the file).
//
// Bounds: at most a small share of the open-file limit waits opened (depth_for), and files
// handed back are closed within a few files' time. When an open runs short of handles or memory, nothing further is opened ahead:
// the round opens the rest itself, with its own remedy (closing kept folders first). Where no
// thread can be started, and on Windows (depth_for), the round lists and opens in its own
// thread.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/automation_error.h"
#include "platform/drop_file.h"
#include "platform/file_system.h"

namespace sorter {

class OpenAhead {
 public:
  // One file entry of the listing (no temporary name), in order.
  struct Entry {
    std::u16string name;
    // Empty when the file was not opened ahead: the round opens it itself.
    std::optional<platform::DropOpenResult> opened;
    std::optional<platform::AutomationError> failure;  // the open failed so
    // What writers() answered, when asked ahead (ask_writers and a regular file opened).
    std::optional<platform::Writers> writers;
  };

  // How many files to keep opened ahead under the process's open-file limit: a small share of
  // it, which leaves the rest to the round's own folders (StoreFolders takes up to half). None
  // on Windows, whose open files refuse being moved by others (kOpenDropFileBlocksMoves).
  static std::size_t depth_for(std::size_t handle_limit);

  // Lists files; opens each through folder unless folder is null, and asks its writers when
  // ask_writers is true. With a depth of 0 no thread starts: next() lists in the caller's
  // thread and opens nothing. At most depth files wait opened; hand-backs are closed by the opener
  // once more than half as many wait for it, and by done_with itself when depth wait.
  OpenAhead(platform::FolderReader files, const platform::DropFolder* folder, bool ask_writers,
            std::size_t depth);
  ~OpenAhead();  // closes every file still opened ahead or handed back
  OpenAhead(const OpenAhead&) = delete;
  OpenAhead& operator=(const OpenAhead&) = delete;

  // The next file entry; nullopt at the end of the listing. Throws what the listing threw.
  std::optional<Entry> next();
  // Takes a file the round is done with (moved, or left for a later round) to be closed.
  void done_with(platform::DropFile file);

 private:
  std::optional<Entry> list_one();  // the next file entry from the listing, not yet opened
  void open(Entry& entry);
  void run();

  platform::FolderReader files_;
  const platform::DropFolder* folder_;
  bool ask_writers_;
  std::size_t depth_;
  std::size_t low_water_;  // the opener sleeps till the round took the queue down to this
  bool opening_ = true;  // false after a shortage of handles or memory

  std::mutex mutex_;
  std::condition_variable wake_opener_;
  std::condition_variable wake_round_;
  std::deque<Entry> ready_;
  std::vector<platform::DropFile> to_close_;
  std::optional<platform::AutomationError> listing_failure_;
  bool listed_all_ = false;
  bool stopping_ = false;
  bool opener_waits_ = false;
  bool round_waits_ = false;
  bool short_ = false;  // the opener ran short: hand-backs close at once
  std::thread thread_;  // not joinable when none could be started
};

}  // namespace sorter
