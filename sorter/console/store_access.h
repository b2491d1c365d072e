#pragma once
// Everything the console does to the store's files, through one narrow interface. Places are
// given as components below the store folder, each a name exactly as a listing returned it, so
// a name from a request is never spliced into a path: the console looks it up in a listing
// first and passes the listed name on.
//
// Rules every implementation keeps: below the store folder nothing is followed through a link
// (only the store folder itself and MailBox may be links the administrator made); reads never
// create a file; moves never replace a file. Failures throw platform::AutomationError.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation_error.h"
#include "platform/file_system.h"

namespace sorter::console {

using StorePath = std::vector<std::u16string>;

struct StoreEntry {
  std::u16string name;
  platform::EntryKind kind = platform::EntryKind::none;  // links and devices are `other`
  std::uint64_t size = 0;                                // files only
  std::optional<double> age_seconds;                     // since the last write; files only
};

class StoreAccess {
 public:
  virtual ~StoreAccess() = default;

  // The entries of a folder; throws (76) when it is missing or cannot be read.
  virtual std::vector<StoreEntry> list(const StorePath& folder) const = 0;
  // Up to max_bytes of a regular file: its first bytes, or its last ones when tail is set.
  virtual std::vector<std::uint8_t> read(const StorePath& file, std::size_t max_bytes,
                                         bool tail = false) const = 0;
  // Moves a file; an existing target is never replaced (58).
  virtual void move(const StorePath& from, const StorePath& to) = 0;
  // Moves a file as a sorting round takes one: not while anybody holds it open for writing,
  // nor an empty file within settle_seconds of its last write, nor, where writers cannot be
  // seen, any file within settle_seconds or unseen_writers_seconds: false then, and nothing
  // moved. The file stays open from that check
  // through the move, so that a writer who comes meanwhile waits for it, and what is moved is
  // the file checked, not something put at its name since (53).
  virtual bool move_settled(const StorePath& from, const StorePath& to, double settle_seconds,
                            double unseen_writers_seconds) = 0;
  // What became of one file of move_settled_each: moved, left (not settled), or its failure.
  struct SettledMove {
    bool moved = false;
    std::optional<platform::AutomationError> failure;
  };
  // move_settled for each named file of folder `from` into folder `to` under the same name,
  // one answer a name in their order. The two folders are opened once for the whole batch, so
  // the target's names are read once and not once a file; a failure of one file is its answer
  // and the others go on. Throws when a folder cannot be opened.
  virtual std::vector<SettledMove> move_settled_each(const StorePath& from, const StorePath& to,
                                                     const std::vector<std::u16string>& names,
                                                     double settle_seconds,
                                                     double unseen_writers_seconds) = 0;
  virtual void remove(const StorePath& file) = 0;
  // Writes a new file whole: first under a temporary name outside the folders rounds read,
  // then moved in under its name, so no reader ever sees it incomplete; an existing file is
  // never replaced (58), and nothing is left when the write fails.
  virtual void add_file(const StorePath& file, const std::vector<std::uint8_t>& bytes) = 0;
  // Writes the 8-byte delivery stamp at the start of the file, as a delivery does.
  virtual void write_time_stamp(const StorePath& file, double oa_date) = 0;
  // Settings files with the sorter's profile rules (ReadINI / WriteINI).
  virtual std::u16string read_setting(const StorePath& file, std::u16string_view section,
                                      std::u16string_view key,
                                      std::u16string_view default_value) const = 0;
  virtual void write_setting(const StorePath& file, std::u16string_view section,
                             std::u16string_view key, std::u16string_view value) = 0;
};

// The store at root through the engine's file functions, with every component below the
// store folder checked not to be a link before it is used.
std::unique_ptr<StoreAccess> open_local_store(std::u16string root);

}  // namespace sorter::console
