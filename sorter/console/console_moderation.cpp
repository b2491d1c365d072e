// Moderation of the Buffer beyond Release: Reject with a note (the e-mail goes, and its sender
// gets a notice through MailBank that the next round delivers like any mail), Discard (the
// e-mail goes, with a log entry), and both for every buffered e-mail of one sender.

#include "corvane/model/record_codec.h"
#include "platform/utf.h"
#include "sorter/console/console_impl.h"
#include "sorter/console/email_view.h"
#include "sorter/console/html.h"
#include "sorter/console/notice.h"

namespace sorter::console {
namespace {

using platform::AutomationError;

constexpr std::size_t kMaxReadBytes = 16 * 1024 * 1024;
constexpr std::size_t kMaxNoteLength = 4000;

std::u16string quoted(std::u16string_view s) { return u"\"" + std::u16string(s) + u"\""; }

std::u16string why(const AutomationError& e) {
  return e.description() + u" (" + platform::from_utf8(std::to_string(e.number())) + u")";
}

}  // namespace

std::optional<corvane::EmailMsg> Console::Impl::buffered_email(const Buffered& mail) {
  if (mail.entry.size > kMaxReadBytes) return std::nullopt;
  try {
    auto decoded = decode_email(store.read(child(*mail.box.buffer, mail.entry.name), kMaxReadBytes));
    if (decoded.failure) return std::nullopt;
    return std::move(decoded.email);
  } catch (const AutomationError&) {
    return std::nullopt;
  }
}

std::vector<Buffered> Console::Impl::buffered(const std::optional<std::u16string>& box,
                                              const std::optional<std::u16string>& sender) {
  std::vector<Buffered> out;
  for (const Mailbox& b : view.mailboxes()) {
    if (!b.buffer || (box && *box != b.name)) continue;
    for (const StoreEntry& e : view.mails(*b.buffer)) {
      Buffered mail{b, e, std::nullopt};
      if (sender) {
        mail.email = buffered_email(mail);
        if (!mail.email || mail.email->emFrom != *sender) continue;
      }
      out.push_back(std::move(mail));
    }
  }
  return out;
}

std::u16string Console::Impl::notice_sender(const Call& call) const {
  if (!options.notice_from.empty()) return platform::from_utf8(options.notice_from);
  if (!call.session->teacher.empty()) return platform::from_utf8(call.session->teacher);
  return u"Store console";
}

std::optional<std::u16string> Console::Impl::reject_one(const Call& call, const Buffered& mail,
                                                        const std::u16string& note) {
  const auto email = mail.email ? mail.email : buffered_email(mail);
  if (!email) return u"it cannot be read, so its sender is not known; Discard it instead";
  if (email->emFrom.empty()) return u"it names no sender; Discard it instead";
  const auto drop = view.drop_folder();
  if (!drop) return u"the store has no MailBank folder";
  const std::u16string notice_name = u"Not delivered - " + mail.entry.name;
  try {
    store.add_file(child(*drop, notice_name),
                   corvane::encode_record(rejection_notice(*email, notice_sender(call), note, now())));
  } catch (const AutomationError& e) {
    if (e.number() == platform::errnum::kFileExists) {
      return u"MailBank already holds " + quoted(notice_name) + u"; nothing was replaced";
    }
    return u"the notice cannot be written: " + why(e);
  }
  try {
    store.remove(child(*mail.box.buffer, mail.entry.name));
  } catch (const AutomationError& e) {
    try {  // the sender must not hear of a rejection that did not happen
      store.remove(child(*drop, notice_name));
    } catch (const AutomationError&) {
    }
    return why(e);
  }
  return std::nullopt;
}

// The e-mail a form names, in the mailbox it names; or the notice of why there is none.
std::optional<Buffered> Console::Impl::named_buffered(Call& call, std::string& refusal) {
  const std::u16string name = name_field(call.request, "box");
  const std::u16string file = name_field(call.request, "file");
  const auto box = view.mailbox(name);
  if (!box || !box->buffer) {
    refusal = "No mailbox named " + escape(quoted(name)) + " with a Buffer is in the store.";
    return std::nullopt;
  }
  const auto entry = view.mail(*box->buffer, file);
  if (!entry) {
    refusal = "The Buffer of " + escape(box->name) + " holds no file named " +
              escape(quoted(file)) + ".";
    return std::nullopt;
  }
  return Buffered{*box, *entry, std::nullopt};
}

std::optional<std::u16string> Console::Impl::note_of(Call& call, std::string& refusal) {
  std::u16string note = field(call.request, "note");
  while (!note.empty() && (note.back() == u' ' || note.back() == u'\n' || note.back() == u'\r')) {
    note.pop_back();
  }
  if (note.empty()) {
    refusal = "Nothing rejected: write the note that tells the sender why.";
    return std::nullopt;
  }
  if (note.size() > kMaxNoteLength) note.resize(kMaxNoteLength);
  return note;
}

Response Console::Impl::reject(Call& call) {
  std::string refusal;
  const auto note = note_of(call, refusal);
  if (!note) return done(call, "/buffer", false, refusal);
  std::lock_guard guard(lock);
  const auto mail = named_buffered(call, refusal);
  if (!mail) return done(call, "/buffer", false, refusal);
  if (!log.ready()) {
    return done(call, "/buffer", false,
                "Not rejected: the log cannot be written, and no e-mail is removed without its "
                "log entry.");
  }
  auto found = *mail;
  found.email = buffered_email(found);
  if (const auto failure = reject_one(call, found, *note)) {
    return done(call, "/buffer", false,
                "Not rejected: " + escape(quoted(mail->entry.name)) + " for " +
                    escape(mail->box.name) + ": " + escape(*failure) + ".");
  }
  log_action(call,
             u"rejected " + quoted(found.entry.name) + u" from " + quoted(found.email->emFrom) +
                 u" in the Buffer of " + quoted(found.box.name) + u"; the sender is told: " +
                 quoted(*note),
             EventType::kInformation);
  return done(call, "/buffer", true,
              "Rejected " + escape(quoted(mail->entry.name)) + " for " + escape(mail->box.name) +
                  ": its sender gets your note with the next round.");
}

Response Console::Impl::reject_all(Call& call) {
  std::string refusal;
  const auto note = note_of(call, refusal);
  if (!note) return done(call, "/buffer", false, refusal);
  const std::u16string sender = field(call.request, "sender");
  if (sender.empty()) return done(call, "/buffer", false, "Nothing rejected: name the sender.");
  std::lock_guard guard(lock);
  if (!log.ready()) {
    return done(call, "/buffer", false,
                "Not rejected: the log cannot be written, and no e-mail is removed without its "
                "log entry.");
  }
  std::size_t rejected = 0;
  std::u16string names, failures;
  std::string failures_html;
  for (const Buffered& mail : buffered(std::nullopt, sender)) {
    const std::u16string which = quoted(mail.entry.name) + u" for " + mail.box.name;
    if (const auto failure = reject_one(call, mail, *note)) {
      failures += (failures.empty() ? u"" : u"; ") + which + u": " + *failure;
      failures_html += "<br>" + escape(which) + ": " + escape(*failure);
    } else {
      names += (names.empty() ? u"" : u", ") + which;
      ++rejected;
    }
  }
  if (rejected > 0 || !failures.empty()) {
    log_action(call,
               u"rejected " + platform::from_utf8(std::to_string(rejected)) + u" e-mail(s) from " +
                   quoted(sender) + (names.empty() ? u"" : u" (" + names + u")") +
                   u"; the sender is told: " + quoted(*note) +
                   (failures.empty() ? u"" : u"; not rejected: " + failures),
               failures.empty() ? EventType::kInformation : EventType::kWarning);
  }
  return done(call, "/buffer", failures.empty(),
              "Rejected " + std::to_string(rejected) + " e-mail(s) from " +
                  escape(quoted(sender)) + "." +
                  (failures_html.empty() ? "" : " Not rejected:" + failures_html));
}

Response Console::Impl::discard(Call& call) {
  std::string refusal;
  std::lock_guard guard(lock);
  const auto mail = named_buffered(call, refusal);
  if (!mail) return done(call, "/buffer", false, refusal);
  if (!log.ready()) {
    return done(call, "/buffer", false,
                "Not discarded: the log cannot be written, and no e-mail is removed without its "
                "log entry.");
  }
  const auto email = buffered_email(*mail);
  try {
    store.remove(child(*mail->box.buffer, mail->entry.name));
  } catch (const AutomationError& e) {
    return done(call, "/buffer", false,
                "Not discarded: " + escape(quoted(mail->entry.name)) + ": " + escape(why(e)) + ".");
  }
  log_action(call,
             u"discarded " + quoted(mail->entry.name) +
                 (email && !email->emFrom.empty() ? u" from " + quoted(email->emFrom)
                                                  : std::u16string()) +
                 u" in the Buffer of " + quoted(mail->box.name),
             EventType::kWarning);
  return done(call, "/buffer", true,
              "Discarded " + escape(quoted(mail->entry.name)) + " for " + escape(mail->box.name) +
                  ".");
}

}  // namespace sorter::console
