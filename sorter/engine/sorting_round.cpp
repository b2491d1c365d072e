#include "sorter/engine/sorting_round.h"

#include <exception>

#include "platform/file_system.h"
#include "platform/utf.h"
#include "sorter/engine/settings.h"
#include "sorter/engine/time_stamp.h"

namespace sorter {
namespace {

using platform::EntryKind;

std::u16string reason_text(const platform::AutomationError& e) {
  return e.description() + u" (" + platform::from_utf8(std::to_string(e.number())) + u")";
}

std::u16string quoted(std::u16string_view s) { return u"\"" + std::u16string(s) + u"\""; }

}  // namespace

SortingRound::SortingRound(StorePaths paths, MailReaderFactory factory, EventLog& log,
                           Clock clock, RoundOptions options)
    : paths_(std::move(paths)),
      factory_(std::move(factory)),
      log_(log),
      clock_(std::move(clock)),
      options_(options),
      repeats_(options.repeat_seconds) {}

void SortingRound::release() {
  drop_folder_.reset();
  current_file_.clear();
}

void SortingRound::CheckMonitoring() {
  monitoring_ = read_boolean_setting(paths_.settings_file(), u"Monitoring", u"value");
}

void SortingRound::DoRounds(const std::function<void()>& yield) {
  report_ = {};
  paths_seen_.clear();
  stamped_.clear();
  repeats_.begin_round();
  if (drop_folder_) {
    try {
      platform::FolderReader files(*drop_folder_);
      while (auto entry = files.next()) {
        if (entry->kind == EntryKind::file && !handle(entry->name)) break;
      }
    } catch (const platform::AutomationError& e) {
      problem(u"<drop folder>", u"Could not read the drop folder " + quoted(*drop_folder_) + u": " +
                       reason_text(e));
    }
  }
  repeats_.end_round();
  current_file_.clear();
  if (yield) yield();
}

// Handles one file; false when no file can be read this round.
bool SortingRound::handle(const std::u16string& name) {
  const std::u16string source = paths_.child(*drop_folder_, name);
  current_file_ = source;
  // Without this test a file that vanished meanwhile, or whose name the platform cannot
  // spell back, would be created anew (empty) by OpenEmail and then deleted.
  const auto age = platform::seconds_since_last_write(source);
  if (!age) return true;
  if (*age < options_.settle_seconds && *age > -options_.settle_seconds) {
    ++report_.waiting;  // maybe still being written
    return true;
  }
  if (!ensure_reader()) return false;
  OpenedEmail mail;
  try {
    mail = reader_->open(source);
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
  const std::u16string& from = mail.email.emFrom;
  const std::u16string& to = mail.email.emTo;
  if (mail.failure) {
    to_error(name, source, mail.failure->description(), kEventError);
  } else if (from.empty()) {
    remove(name, source, u"Email sent with no sender information!");
  } else if (to.empty()) {
    remove(name, source, u"Email sent with no recipient information!  From: " + from);
  } else if (!is_mailbox_name(to) ||
             paths_seen_.lookup(paths_.mailbox(to)).kind != EntryKind::folder) {
    if (is_mailbox_name(from)) {
      const std::u16string sender_box = paths_seen_.lookup(paths_.mailbox(from)).path;
      WriteINI(paths_.child(sender_box, kClientIniName), u"Errors", u"Status", u"1");
    }
    to_error(name, source,
             u"Email sent to non-existant recipient!  From: " + from + u"; To: " + to,
             kEventWarning);
  } else {
    deliver(name, source, to);
  }
  return true;
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

void SortingRound::to_error(const std::u16string& name, const std::u16string& source,
                            const std::u16string& text, int event_type) {
  const std::u16string folder = paths_seen_.lookup(paths_.error_folder()).path;
  if (!move(name, source, paths_.child(folder, name))) return;
  ++report_.to_error;
  log_.LogEvent(text, event_type);
}

void SortingRound::remove(const std::u16string& name, const std::u16string& source,
                          const std::u16string& text) {
  if (!log_.ready()) {
    ++report_.waiting;  // no file is deleted without its log entry
    return;
  }
  try {
    platform::delete_file_forced(source);
  } catch (const platform::AutomationError& e) {
    if (platform::entry_kind(source) == EntryKind::none) return;  // taken away meanwhile
    ++report_.stuck;
    problem(u"file:" + name, u"Could not delete " + quoted(name) + u": " + reason_text(e));
    return;
  }
  repeats_.resolved(u"file:" + name);
  ++report_.deleted;
  log_.LogEvent(text, kEventWarning);
}

void SortingRound::deliver(const std::u16string& name, const std::u16string& source,
                           const std::u16string& to) {
  const std::u16string folder = paths_seen_.lookup(paths_.delivery_folder(to, monitoring_)).path;
  stamp(folder);
  if (move(name, source, paths_.child(folder, name))) ++report_.delivered;
}

// Moves without replacing; a failure leaves the file where it is and is reported.
bool SortingRound::move(const std::u16string& name, const std::u16string& source,
                        const std::u16string& target) {
  try {
    platform::move_file_no_replace(source, target);
  } catch (const platform::AutomationError& e) {
    if (platform::entry_kind(source) == EntryKind::none) return false;  // taken away meanwhile
    ++report_.stuck;
    problem(u"file:" + name, u"Could not move " + quoted(name) + u" to " + quoted(target) + u": " +
                      reason_text(e));
    return false;
  }
  repeats_.resolved(u"file:" + name);
  return true;
}

// Subjects: "<reader>", "<drop folder>", or "file:" and the file's name.
void SortingRound::problem(const std::u16string& subject, const std::u16string& text) {
  if (repeats_.should_report(subject, text, now().value_or(0.0)) &&
      !log_.LogEvent(text, kEventError)) {
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
void SortingRound::stamp(const std::u16string& folder) {
  const std::u16string file =
      paths_seen_.lookup(paths_.child(folder, kTimeStampName)).path;
  const auto time = now();
  if (!time) return;
  auto [it, added] = stamped_.try_emplace(file, *time);
  if (!added && it->second == *time) return;  // the file already holds this very second
  it->second = *time;
  updateTime(file, *time);
}

}  // namespace sorter
