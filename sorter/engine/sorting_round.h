#pragma once
// The sorting round: every file directly in the drop folder is opened as an e-mail and then
// delivered into its recipient's Inbox (Buffer while monitoring is on), moved to Error, or
// deleted, each outcome but a delivery with its log entry.
//
// Beyond the plain rules the round keeps every file safe:
//  - a move never replaces an existing file; a move or delete that fails leaves the file in
//    the drop folder for a later round and logs one error entry naming the file and the
//    reason, repeated only when the reason changes or after RoundOptions::repeat_seconds, also
//    when the file waits in some rounds between (see RepeatFilter);
//  - each file is opened once, for reading, without following a link or creating anything; a
//    file gone since the listing is skipped without a trace, a link or a non-file left alone;
//  - a file still being written waits for a later round: one that anybody holds open for
//    writing, an empty one written within the last RoundOptions::settle_seconds, and, where
//    the file system cannot tell about writers, one written within the last
//    RoundOptions::unseen_writers_seconds or whose size or time changed since the last round
//    (said once in the log, the first time a file's writers cannot be seen); a complete file
//    nobody writes is taken in the round that first sees it;
//  - the file stays open from its read through its stamp and its move or deletion, so that
//    writers that come meanwhile wait; when one came all the same (Linux: the read lease was
//    broken), or the name no longer holds the file read (a client saved by renaming a new file
//    over it), the file is left for a later round, which reads what is there then;
//  - only the file's own faults send it to Error: when the process itself is short of
//    handles or memory, the file waits and the shortage is logged (as below); the mailbox
//    folders a round keeps open are bounded by the handle limit (see StoreFolders);
//  - a recipient or sender name that could leave MailBox names no mailbox (see
//    is_mailbox_name): the mail goes to Error and no Client.ini is written for it;
//  - below MailBox, Error and the drop folder nothing is written, created or moved through a
//    link: a mailbox folder that is a link counts as missing, an Inbox or Buffer that is one
//    as a missing folder, a timeStamp.dat or Client.ini that is one is not written, each
//    with one error entry naming the link;
//  - a target that exists under another letter case is taken (a mail named TIMESTAMP.DAT
//    stays in the drop folder rather than land beside the real one);
//  - when the reader cannot be created, the round logs it (as above) and leaves every file;
//  - while the log is on but cannot be written, files due for deletion wait, so that no file
//    is deleted without its log entry.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/drop_file.h"
#include "sorter/engine/event_log.h"
#include "sorter/engine/mail_reader.h"
#include "sorter/engine/open_ahead.h"
#include "sorter/engine/repeat_filter.h"
#include "sorter/engine/store_folders.h"
#include "sorter/engine/store_paths.h"

namespace sorter {

struct RoundOptions {
  // How long a file written since must wait: only an empty one where writers can be seen (its
  // creator's open may not count yet), any one where they cannot.
  double settle_seconds = 2.0;
  double repeat_seconds = 3600.0;
  // False: never ask the file system who writes a file, as if it could not tell (it cannot on
  // network mounts), so that only settling time and "unchanged since the last round" count.
  bool ask_writers = true;
  // Where writers cannot be seen, a file must also be this old: a writer that keeps the file
  // open through a pause would otherwise have it taken half written.
  double unseen_writers_seconds = 30.0;
};

// What one round did, file by file.
struct RoundReport {
  int delivered = 0;
  int to_error = 0;  // unreadable or for a recipient without mailbox
  int deleted = 0;   // no sender or no recipient
  int waiting = 0;   // too fresh, or no reader
  int stuck = 0;     // a move or delete failed
};

class SortingRound {
 public:
  using Clock = std::function<double()>;  // local time as an automation date

  SortingRound(StorePaths paths, MailReaderFactory factory, EventLog& log, Clock clock,
               RoundOptions options = {});

  // Binds the drop folder (folWatch); release() lets go of it.
  void bind(std::u16string drop_folder) { drop_folder_ = std::move(drop_folder); }
  void release() { drop_folder_.reset(); }
  bool bound() const { return drop_folder_.has_value(); }

  // Reads the monitoring switch from the settings file.
  void CheckMonitoring();
  // One round over the drop folder, then one call of yield.
  void DoRounds(const std::function<void()>& yield = {});
  // Asked after each file of a round: true ends the round there, the rest waits for the next.
  // A stop request is so honoured within a file, however long the drop folder is.
  void set_stop_request(std::function<bool()> stop_requested) {
    stop_requested_ = std::move(stop_requested);
  }

  bool monitoring() const { return monitoring_; }
  void set_monitoring(bool on) { monitoring_ = on; }
  const RoundReport& last_round() const { return report_; }
  const RoundOptions& options() const { return options_; }

 private:
  struct Snapshot {
    uint64_t size;
    int64_t modified_ns;
    bool operator==(const Snapshot&) const = default;
  };
  bool handle(const platform::DropFolder& folder, OpenAhead::Entry& entry,
              std::unordered_map<std::u16string, Snapshot>& unsettled);
  platform::DropOpenResult open(const platform::DropFolder& folder, const std::u16string& name);
  bool settled(const std::u16string& name, platform::DropFile& file,
               std::optional<platform::Writers> asked,
               std::unordered_map<std::u16string, Snapshot>& unsettled);
  void writers_unseen();
  bool ensure_reader();
  void sort(const std::u16string& name, const OpenedEmail& mail, platform::DropFile& file);
  void short_of(const platform::AutomationError& e);
  bool held(const std::u16string& name, platform::DropFile* file);
  void to_error(const std::u16string& name, const std::u16string& text, EventType event_type,
                platform::DropFile* file);
  void remove(const std::u16string& name, const std::u16string& text, platform::DropFile& file);
  void deliver(const std::u16string& name, const std::u16string& to, platform::DropFile& file);
  bool move(const std::u16string& name, StoreFolders::Lookup folder,
            const std::u16string& folder_path, const platform::DropFile* file);
  bool still_there(const std::u16string& name) const;
  bool bounce(const std::u16string& from);
  void refused_if_link(const std::u16string& path, const platform::AutomationError& e);
  void problem(const std::u16string& subject, const std::u16string& text);
  void stamp(const platform::ConfinedFolder& folder);
  std::optional<double> now() const noexcept;

  StorePaths paths_;
  MailReaderFactory factory_;
  EventLog& log_;
  Clock clock_;
  RoundOptions options_;
  std::optional<std::u16string> drop_folder_;  // folWatch
  std::unique_ptr<MailReader> reader_;         // objMailModel
  std::function<bool()> stop_requested_;
  bool monitoring_ = false;
  StoreFolders folders_{paths_};                // kept from round to round
  const platform::ConfinedFolder* drop_ = nullptr;  // the drop folder, during a round
  const platform::DropFolder* drop_files_ = nullptr;  // its files, during a round
  RepeatFilter repeats_;
  // This round's stamps by folder path (a folder closed between files may be opened again).
  std::unordered_map<std::u16string, double> stamped_;
  RoundReport report_;
  // Files whose writers could not be asked about, as the previous round saw them.
  std::unordered_map<std::u16string, Snapshot> unsettled_;
  bool said_writers_unseen_ = false;
};

}  // namespace sorter
