#include "sorter/engine/sorting_round.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "platform/decimal_text.h"
#include "platform/drop_file.h"
#include "platform/file_system.h"
#include "platform/handle_limit.h"
#include "platform/utf.h"
#include "sorter/engine/settings.h"
#include "sorter/engine/time_stamp.h"

namespace sorter {
namespace {

using platform::EntryKind;

std::u16string reason_text(const platform::AutomationError& e) {
  return e.description() + u" (" + platform::decimal_text(e.number()) + u")";
}

std::u16string quoted(std::u16string_view s) { return u"\"" + std::u16string(s) + u"\""; }

// Whether a file of this age was written less than seconds ago (or as far in the future: a
// clock a little fast); files dated far in the future are not held back.
bool within(double age_seconds, double seconds) {
  return age_seconds < seconds && age_seconds > -seconds;
}

}  // namespace

SortingRound::SortingRound(StorePaths paths, MailReaderFactory factory, EventLog& log,
                           Clock clock, RoundOptions options)
    : paths_(std::move(paths)),
      factory_(std::move(factory)),
      log_(log),
      clock_(std::move(clock)),
      options_(options),
      repeats_(options.repeat_seconds) {}

void SortingRound::CheckMonitoring() {
  monitoring_ = read_boolean_setting(paths_.settings_file(), u"Monitoring", u"value");
}

void SortingRound::DoRounds(const std::function<void()>& yield) {
  report_ = {};
  folders_.begin_round(StoreFolders::budget_for(platform::open_handle_limit()));
  stamped_.clear();
  std::unordered_map<std::u16string, Snapshot> unsettled;
  if (drop_folder_) {
    const StoreFolders::Lookup drop = folders_.top(*drop_folder_);
    drop_ = drop.folder;
    try {
      std::optional<platform::DropFolder> folder;
      if (drop_) {
        folder.emplace(*drop_);  // read through the very handle files are moved from
        drop_files_ = &*folder;
      }
      OpenAhead files(platform::FolderReader(*drop_folder_), drop_files_, options_.ask_writers,
                      OpenAhead::depth_for(platform::open_handle_limit()));
      while (auto entry = files.next()) {
        if (!drop_) throw *drop.failure;
        const bool go_on = handle(*folder, *entry, unsettled);
        if (entry->opened && entry->opened->file) files.done_with(std::move(*entry->opened->file));
        if (!go_on) break;
        folders_.trim();
        if (stop_requested_ && stop_requested_()) break;
      }
    } catch (const platform::AutomationError& e) {
      problem(u"<drop folder>", u"Could not read the drop folder " + quoted(*drop_folder_) + u": " +
                       reason_text(e));
    }
  }
  unsettled_.swap(unsettled);
  repeats_.end_round(now().value_or(0.0));
  drop_files_ = nullptr;
  drop_ = nullptr;
  folders_.end_round();  // the mailboxes' folders are kept for the next round
  stamped_.clear();
  if (yield) yield();
}

// Handles one file, as opened ahead or else opened here; false when no file can be read this
// round. The file stays open until the caller hands it back, after its move.
bool SortingRound::handle(const platform::DropFolder& folder, OpenAhead::Entry& entry,
                          std::unordered_map<std::u16string, Snapshot>& unsettled) {
  const std::u16string& name = entry.name;
  // Opened once, without following a link or creating anything; what the round learns of the
  // file comes from this handle. A file taken away since the listing is simply gone.
  try {
    if (entry.failure) throw *entry.failure;
    if (!entry.opened) entry.opened = open(folder, name);
  } catch (const platform::AutomationError& e) {
    if (is_resource_failure(e)) {
      short_of(e);  // the process's fault, not the file's
      ++report_.waiting;
    } else {
      to_error(name, e.description(), EventType::kError, nullptr);  // there, but unreadable
    }
    return true;
  }
  platform::DropOpenResult& opened = *entry.opened;
  if (opened.status == platform::DropOpenStatus::in_use) ++report_.waiting;
  if (opened.status != platform::DropOpenStatus::opened) return true;
  platform::DropFile& file = *opened.file;
  const platform::DropFileFacts& facts = file.facts();
  if (facts.kind != EntryKind::file) return true;  // a folder or device now: left alone
  if (!settled(name, file, entry.writers, unsettled)) {
    ++report_.waiting;  // maybe still being written
    return true;
  }
  if (!ensure_reader()) return false;
  OpenedEmail mail;
  try {
    mail = reader_->open(paths_.child(*drop_folder_, name), file);
  } catch (const platform::AutomationError& e) {
    problem(u"file:" + name, u"Could not read " + quoted(name) + u": " + reason_text(e));
    ++report_.waiting;
    return true;
  } catch (const std::exception& e) {
    problem(u"file:" + name, u"Could not read " + quoted(name) + u": " +
                                 platform::from_utf8(e.what()));
    ++report_.waiting;
    return true;
  }
  if (mail.failure && is_resource_failure(*mail.failure)) {
    short_of(*mail.failure);  // the reader ran short, the file may well be sound
    ++report_.waiting;
    return true;
  }
  sort(name, mail, file);
  return true;
}

// Opens a drop file; when the process is short of handles or memory, once more after closing
// the mailbox folders kept from earlier files.
platform::DropOpenResult SortingRound::open(const platform::DropFolder& folder,
                                            const std::u16string& name) {
  try {
    return folder.open(name);
  } catch (const platform::AutomationError& e) {
    if (!is_resource_failure(e) || folders_.shed() == 0) throw;
  }
  return folder.open(name);
}

// Sends the e-mail read from file where it belongs.
void SortingRound::sort(const std::u16string& name, const OpenedEmail& mail,
                        platform::DropFile& file) {
  const std::u16string& from = mail.email.emFrom;
  const std::u16string& to = mail.email.emTo;
  if (mail.failure) {
    to_error(name, mail.failure->description(), EventType::kError, &file);
    return;
  }
  if (from.empty()) {
    remove(name, u"Email sent with no sender information!", file);
    return;
  }
  if (to.empty()) {
    remove(name, u"Email sent with no recipient information!  From: " + from, file);
    return;
  }
  if (is_mailbox_name(to)) {
    // Whether the user's mailbox folder exists; one behind a link counts as missing.
    const auto box = folders_.mailbox(to);
    if (box.failure && is_resource_failure(*box.failure)) {
      short_of(*box.failure);
      ++report_.waiting;
      return;
    }
    if (box.failure) refused_if_link(paths_.mailbox(to), *box.failure);
    if (box.folder) {
      deliver(name, to, file);
      return;
    }
  }
  if (is_mailbox_name(from) && !bounce(from)) {
    ++report_.waiting;  // the flag could not be set for want of resources: both wait
    return;
  }
  to_error(name, u"Email sent to non-existant recipient!  From: " + from + u"; To: " + to,
           EventType::kWarning, &file);
}

// The process's own shortage of handles or memory: no file is blamed for it, and one entry
// per interval says why files wait.
void SortingRound::short_of(const platform::AutomationError& e) {
  problem(u"<resources>",
          u"The sorter is short of handles or memory; files wait for a later round: " +
              reason_text(e));
}

// Whether the file may be moved now: its name still holds it, and no writer came since it was
// read. Else a new version is being written or was put in its place: a later round reads that.
bool SortingRound::held(const std::u16string& name, platform::DropFile* file) {
  if (file == nullptr) return true;
  if (drop_files_ && drop_files_->holds(name, *file) && file->hold_for_move()) return true;
  ++report_.waiting;
  return false;
}

// Sets the bounce flag in the sender's Client.ini, when there is one to reach without a link.
// False only when the mailbox could not be looked up for want of resources.
bool SortingRound::bounce(const std::u16string& from) {
  const auto box = folders_.mailbox(from);
  if (box.failure && is_resource_failure(*box.failure)) {
    short_of(*box.failure);
    return false;
  }
  if (!box.folder) {
    if (box.failure) refused_if_link(paths_.mailbox(from), *box.failure);
    return true;  // no mailbox: the write is lost without a report
  }
  try {
    const auto entry = box.folder->find(kClientIniName);
    if (entry && entry->kind == EntryKind::link) {
      refused_if_link(box.folder->child_path(entry->name),
                      platform::AutomationError(platform::errnum::kPathFileAccess,
                                                std::u16string(platform::kLinkRefusedText)));
      return true;
    }
  } catch (const platform::AutomationError&) {
    return true;
  }
  WriteINI(*box.folder, kClientIniName, u"Errors", u"Status", u"1");
  return true;
}

// A link where the store holds a folder or file of its own is reported, once per reason.
void SortingRound::refused_if_link(const std::u16string& path, const platform::AutomationError& e) {
  if (is_link_refused(e)) problem(u"link:" + path, u"Could not use " + quoted(path) + u": " + reason_text(e));
}

// Whether the file is complete. Where the file system tells who writes it, that answer
// decides: nobody (the file is then held so through its read and move) or somebody. A file
// just created shows in the folder a moment before its creator's open counts as a writer, and
// a lease taken in between is granted, on a file with no bytes yet: an empty file also waits
// out the settling time. Only where writers cannot be seen, the file must not have been
// written within the settling time, be older than the longer settling time for that case and
// be unchanged (size and modification time) since the previous round.
bool SortingRound::settled(const std::u16string& name, platform::DropFile& file,
                           std::optional<platform::Writers> asked,
                           std::unordered_map<std::u16string, Snapshot>& unsettled) {
  const platform::DropFileFacts& facts = file.facts();
  platform::Writers writers = platform::Writers::unknown;
  if (options_.ask_writers) {
    writers = asked ? *asked : file.writers();
    if (writers == platform::Writers::unknown) writers_unseen();
  }
  switch (writers) {
    case platform::Writers::none:
      return facts.size != 0 || !within(facts.age_seconds, options_.settle_seconds);
    case platform::Writers::present: return false;
    case platform::Writers::unknown: break;
  }
  if (within(facts.age_seconds, options_.settle_seconds)) return false;
  const Snapshot now{facts.size, facts.modified_ns};
  const auto before = unsettled_.find(name);
  const bool unchanged = before != unsettled_.end() && before->second == now;
  // Kept for as long as the file stays, so that one left behind (a move that fails) is still
  // settled in the next round rather than seen afresh every other round.
  unsettled[name] = now;
  return unchanged && !within(facts.age_seconds, options_.unseen_writers_seconds);
}

// Says once, the first time, that writers cannot be seen and how files are taken then.
void SortingRound::writers_unseen() {
  if (said_writers_unseen_ || !log_.logging()) return;
  said_writers_unseen_ = true;
  const double seconds = std::ceil(std::max(options_.unseen_writers_seconds, 0.0));
  log_.LogEvent(u"Writers of the dropped files cannot be seen (no file lease: a network mount, "
                u"or files of other owners for a sorter without CAP_LEASE); a file is taken "
                u"only once it is " +
                    platform::decimal_text(static_cast<long long>(seconds)) +
                    u" s old and unchanged since the round before",
                EventType::kWarning);
}

bool SortingRound::ensure_reader() {
  if (reader_) return true;
  try {
    reader_ = factory_();
    if (reader_) return true;
    problem(u"<reader>", u"Could not create the e-mail reader");
  } catch (const platform::AutomationError& e) {
    problem(u"<reader>", u"Could not create the e-mail reader: " + reason_text(e));
  } catch (const std::exception& e) {
    problem(u"<reader>", u"Could not create the e-mail reader: " + platform::from_utf8(e.what()));
  }
  ++report_.waiting;
  return false;
}

void SortingRound::to_error(const std::u16string& name, const std::u16string& text,
                            EventType event_type, platform::DropFile* file) {
  if (!held(name, file)) return;
  if (!move(name, folders_.error(), paths_.error_folder(), file)) return;
  ++report_.to_error;
  log_.LogEvent(text, event_type);
}

void SortingRound::remove(const std::u16string& name, const std::u16string& text,
                          platform::DropFile& file) {
  if (!log_.ready()) {
    ++report_.waiting;  // no file is deleted without its log entry
    return;
  }
  if (!held(name, &file)) return;
  try {
    if (!drop_) throw platform::AutomationError(platform::errnum::kPathNotFound);
    drop_->delete_file(name);
  } catch (const platform::AutomationError& e) {
    if (!still_there(name)) return;  // taken away meanwhile
    ++report_.stuck;
    problem(u"file:" + name, u"Could not delete " + quoted(name) + u": " + reason_text(e));
    return;
  }
  if (repeats_.size() != 0) repeats_.resolved(u"file:" + name);
  ++report_.deleted;
  log_.LogEvent(text, EventType::kWarning);
}

void SortingRound::deliver(const std::u16string& name, const std::u16string& to,
                           platform::DropFile& file) {
  const auto box = folders_.box(to, monitoring_);
  if (box.failure && is_resource_failure(*box.failure)) {
    short_of(*box.failure);
    ++report_.waiting;
    return;
  }
  if (box.folder) stamp(*box.folder);  // else the failed move names the reason
  if (!held(name, &file)) return;
  if (move(name, box, paths_.delivery_folder(to, monitoring_), &file)) ++report_.delivered;
}

bool SortingRound::still_there(const std::u16string& name) const {
  try {
    return drop_ == nullptr || drop_->find(name).has_value();
  } catch (const platform::AutomationError&) {
    return true;
  }
}

// Moves without replacing; a failure leaves the file where it is and is reported.
// The target is the folder as looked up, and its path as built for messages when it is missing.
// Only the file that was read is moved: what took its name meanwhile stays for a later round.
bool SortingRound::move(const std::u16string& name, StoreFolders::Lookup folder,
                        const std::u16string& folder_path, const platform::DropFile* file) {
  try {
    if (!drop_) throw platform::AutomationError(platform::errnum::kPathNotFound);
    if (!folder.folder) throw *folder.failure;
    drop_->move_file(name, *folder.folder, name, platform::MoveMethod::automatic,
                     file ? file->identity() : platform::FileIdentity{});
  } catch (const platform::AutomationError& e) {
    if (!still_there(name)) return false;  // taken away meanwhile
    if (file != nullptr && e.number() == platform::errnum::kFileNotFound) {
      ++report_.waiting;  // another file took the name after the read: a later round reads it
      return false;
    }
    if (is_resource_failure(e)) {
      short_of(e);  // the target folder, or a copy across file systems, wanted handles
      ++report_.waiting;
      return false;
    }
    ++report_.stuck;
    const std::u16string target =
        folder.folder ? folder.folder->child_path(name) : paths_.child(folder_path, name);
    problem(u"file:" + name, u"Could not move " + quoted(name) + u" to " + quoted(target) + u": " +
                      reason_text(e));
    return false;
  }
  if (repeats_.size() != 0) repeats_.resolved(u"file:" + name);
  return true;
}

// Subjects: "<reader>", "<drop folder>", or "file:" and the file's name.
void SortingRound::problem(const std::u16string& subject, const std::u16string& text) {
  if (repeats_.should_report(subject, text, now().value_or(0.0)) &&
      !log_.LogEvent(text, EventType::kError)) {
    repeats_.resolved(subject);  // not written: try again next round
  }
}

std::optional<double> SortingRound::now() const noexcept {
  try {
    return clock_();
  } catch (...) {
    return std::nullopt;  // no local time: no stamp, and reports are not held back
  }
}

// Writes the delivery time into the folder's timeStamp.dat, once per second and folder.
// A timeStamp.dat that is a link is not written through (and is reported once).
void SortingRound::stamp(const platform::ConfinedFolder& folder) {
  const auto time = now();
  if (!time) return;
  auto [it, added] = stamped_.try_emplace(folder.path(), *time);
  if (!added && it->second == *time) return;  // the file already holds this very second
  it->second = *time;
  try {
    const auto entry = folder.find(kTimeStampName);
    if (entry && entry->kind == EntryKind::link) {
      refused_if_link(folder.child_path(entry->name),
                      platform::AutomationError(platform::errnum::kPathFileAccess,
                                                std::u16string(platform::kLinkRefusedText)));
      return;
    }
  } catch (const platform::AutomationError&) {
    return;
  }
  updateTime(folder, kTimeStampName, *time);
}

}  // namespace sorter
