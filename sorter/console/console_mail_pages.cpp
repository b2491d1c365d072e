// Buffer review and the error folder: e-mails shown as their recipients would see them,
// released into the Inbox, retried or deleted.

#include <algorithm>
#include <unordered_set>

#include "corvane/object_model/mail_object_model.h"
#include "platform/utf.h"
#include "sorter/console/console_impl.h"
#include "sorter/console/email_view.h"
#include "sorter/console/html.h"
#include "sorter/console/log_reader.h"
#include "sorter/engine/store_paths.h"

namespace sorter::console {
namespace {

using platform::AutomationError;
using platform::EntryKind;

constexpr std::size_t kMaxShownEmailBytes = 16 * 1024 * 1024;
constexpr std::size_t kLogTailBytes = 1024 * 1024;
constexpr std::size_t kMaxDumpBytes = 16 * 1024;
// E-mails on one page of the Buffer page.
constexpr std::size_t kBufferPageSize = 50;

std::u16string quoted(std::u16string_view s) { return u"\"" + std::u16string(s) + u"\""; }

std::string file_facts(const StoreEntry& e) {
  return "<b>" + escape(e.name) + "</b> &middot; " + size_text(e.size) +
         (e.age_seconds ? " &middot; written " + age_text(*e.age_seconds) + " ago" : "");
}

// A name taken in the folder under any letter case: a move there would collide.
bool name_taken(const StoreView& view, const StorePath& folder, std::u16string_view name) {
  const std::u16string folded = platform::fold_case(name);
  const auto entries = view.entries(folder);
  return std::any_of(entries.begin(), entries.end(),
                     [&](const StoreEntry& e) { return platform::fold_case(e.name) == folded; });
}

// An e-mail of the Error folder, found by the exact name a form gave.
struct ErrorMail {
  StorePath folder;
  StoreEntry entry;
  StorePath path() const { return child(folder, entry.name); }
};

// The e-mail named file in the Error folder; never the log that shares the folder.
std::optional<ErrorMail> find_error_mail(const StoreView& view, std::u16string_view file) {
  auto error = view.error_folder();
  auto entry = error ? view.exact(*error, file, EntryKind::file) : std::nullopt;
  if (!entry || platform::fold_case(entry->name) == platform::fold_case(kLogName)) {
    return std::nullopt;
  }
  return ErrorMail{std::move(*error), std::move(*entry)};
}

std::string no_error_mail(std::u16string_view file) {
  return "The Error folder holds no e-mail named " + escape(quoted(file)) + ".";
}

std::u16string reason(const AutomationError& e) {
  return e.description() + u" (" + platform::from_utf8(std::to_string(e.number())) + u")";
}

std::optional<DecodedEmail> read_email(const StoreAccess& store, const StorePath& file,
                                       std::uint64_t size) {
  if (size > kMaxShownEmailBytes) return std::nullopt;
  return decode_email(store.read(file, kMaxShownEmailBytes));
}

}  // namespace

// Writes the delivery time into a folder's stamp after e-mails came in, never through a stamp
// that is a link; entries is the folder as listed before. The e-mails are delivered whether or
// not the stamp can be written, as in a round.
static void stamp_delivery(Console::Impl& c, const StorePath& inbox,
                           const std::vector<StoreEntry>& entries) {
  const std::u16string folded_stamp = platform::fold_case(kTimeStampName);
  const auto stamp = std::find_if(entries.begin(), entries.end(), [&](const StoreEntry& e) {
    return platform::fold_case(e.name) == folded_stamp;
  });
  if (stamp != entries.end() && stamp->kind != EntryKind::file) return;
  try {
    c.store.write_time_stamp(
        child(inbox, stamp == entries.end() ? std::u16string(kTimeStampName) : stamp->name),
        c.now());
  } catch (const AutomationError&) {
  }
}

// Moves buffered e-mails of one mailbox into its Inbox, then stamps the Inbox once if any came
// in, so that a release that does not happen leaves the Inbox as it was. The Inbox is listed
// once for the whole batch: a name it holds in any letter case is refused, and so is a second
// name of the batch that differs from one moved before only in letter case. One answer a name:
// none when released, else the reason.
static std::vector<std::optional<std::u16string>> release_from(
    Console::Impl& c, const Mailbox& box, const std::vector<std::u16string>& names) {
  std::vector<std::optional<std::u16string>> answers(names.size());
  if (!box.inbox) {
    std::fill(answers.begin(), answers.end(), u"the mailbox has no Inbox folder");
    return answers;
  }
  const auto taken_answer = [](const std::u16string& name) {
    return u"the Inbox already holds a file named " + quoted(name) + u"; nothing was replaced";
  };
  const std::vector<StoreEntry> entries = c.view.entries(*box.inbox);
  std::unordered_set<std::u16string> taken;
  taken.reserve(entries.size() + names.size());
  for (const StoreEntry& e : entries) taken.insert(platform::fold_case(e.name));
  std::vector<std::u16string> moving;
  std::vector<std::size_t> which;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!taken.insert(platform::fold_case(names[i])).second) {
      answers[i] = taken_answer(names[i]);
    } else {
      moving.push_back(names[i]);
      which.push_back(i);
    }
  }
  if (moving.empty()) return answers;
  // The Inbox may have become a link since the page was listed: that, like any failure
  // here, is each e-mail's answer, and the rest of a Release all goes on.
  std::vector<StoreAccess::SettledMove> outcomes;
  try {
    // A pupil may still be writing into their Buffer: each file is taken as a round takes one.
    const RoundOptions round;
    outcomes = c.store.move_settled_each(*box.buffer, *box.inbox, moving, round.settle_seconds,
                                         round.unseen_writers_seconds);
  } catch (const AutomationError& e) {
    for (std::size_t i : which) answers[i] = reason(e);
    return answers;
  }
  bool any_moved = false;
  for (std::size_t k = 0; k < which.size(); ++k) {
    const std::size_t i = which[k];
    const auto& outcome = k < outcomes.size() ? outcomes[k] : StoreAccess::SettledMove{};
    if (outcome.moved) {
      any_moved = true;
    } else if (!outcome.failure) {
      answers[i] = u"it is still being written; try again in a moment";
    } else if (outcome.failure->number() == platform::errnum::kFileExists) {
      answers[i] = taken_answer(names[i]);
    } else {
      answers[i] = reason(*outcome.failure);
    }
  }
  if (any_moved) stamp_delivery(c, *box.inbox, entries);
  return answers;
}

// The Buffer page's filter: by recipient (mailbox) and by sender.
static std::string buffer_filter(const std::optional<std::string>& box,
                                 const std::optional<std::u16string>& sender) {
  return "<form method=\"get\" action=\"/buffer\" class=\"filter\"><label>Recipient <input "
         "name=\"box\" value=\"" + escape(box.value_or("")) + "\"></label> <label>Sender <input "
         "name=\"sender\" value=\"" + escape(sender.value_or(u"")) + "\"></label> "
         "<button>Filter</button> <a href=\"/buffer\">All</a></form>";
}

// The page of the Buffer's e-mails a request asks for: 1 unless it names a later one.
static std::size_t page_of(const Request& request) {
  const std::string n = request.param("page").value_or("1");
  if (n.empty() || n.size() > 6 || n.find_first_not_of("0123456789") != std::string::npos) return 1;
  return std::max<std::size_t>(1, std::stoul(n));
}

// Links to the previous and next page of the Buffer, keeping the filters.
static std::string page_links(const std::optional<std::string>& box,
                              const std::optional<std::u16string>& sender, std::size_t page,
                              std::size_t total) {
  const std::size_t pages = (total + kBufferPageSize - 1) / kBufferPageSize;
  if (pages <= 1) return {};
  std::string query = "/buffer?";
  if (box && !box->empty()) query += "box=" + url_encode(platform::from_utf8(*box)) + "&";
  if (sender) query += "sender=" + url_encode(*sender) + "&";
  std::string out = "<p class=\"pages\">";
  if (page > 1) {
    out += "<a rel=\"prev\" href=\"" + query + "page=" + std::to_string(page - 1) +
           "\">Previous</a> ";
  }
  out += "Page " + std::to_string(page) + " of " + std::to_string(pages);
  if (page < pages) {
    out += " <a rel=\"next\" href=\"" + query + "page=" + std::to_string(page + 1) +
           "\">Next</a>";
  }
  return out + "</p>";
}

static std::string note_field() {
  return "<textarea name=\"note\" rows=\"2\" cols=\"40\" maxlength=\"4000\" required "
         "placeholder=\"Why it is not delivered (sent to the sender)\"></textarea>";
}

Response Console::Impl::buffer_page(Call& call) {
  const auto only = call.request.param("box");
  const auto sender_field = field(call.request, "sender");
  const auto sender = sender_field.empty() ? std::nullopt : std::optional(sender_field);
  std::string body = buffer_filter(only, sender);
  if (sender) {
    const std::string from = hidden("sender", *sender);
    body += "<section class=\"sender\"><h2>From " + escape(*sender) + "</h2>" +
            form(call, "/buffer/release-all", from, "Release all from this sender") + " " +
            form(call, "/buffer/reject-all", from + note_field(), "Reject all from this sender",
                 "danger") +
            "</section>";
  }
  // The e-mails are numbered across the mailboxes in their order; one page of them is shown,
  // and only those are read unless a sender filter needs every one read to count it.
  const std::size_t page_number = page_of(call.request);
  const std::size_t first = (page_number - 1) * kBufferPageSize;
  std::size_t total = 0;
  std::string counts, sections;
  for (const Mailbox& box : view.mailboxes()) {
    if (!box.buffer || (only && !only->empty() && platform::from_utf8(*only) != box.name)) continue;
    std::string shown;
    std::size_t count = 0;
    for (const StoreEntry& e : view.mails(*box.buffer)) {
      const bool on_page = total + count >= first && total + count < first + kBufferPageSize;
      if (!sender && !on_page) {
        ++count;
        continue;
      }
      std::string article;
      try {
        const auto decoded = read_email(store, child(*box.buffer, e.name), e.size);
        if (sender && (!decoded || decoded->failure || decoded->email.emFrom != *sender)) continue;
        if (!on_page) {
          ++count;
          continue;
        }
        if (!decoded) {
          article += "<p class=\"cut\">Too large to show here.</p>";
        } else {
          if (decoded->failure) {
            article += "<p class=\"notice bad\">This file cannot be read in full: " +
                       escape(reason(*decoded->failure)) + "</p>";
          } else if (!sender) {
            article += "<p class=\"hint\"><a href=\"/buffer?sender=" +
                       url_encode(decoded->email.emFrom) + "\">Every e-mail from " +
                       escape(decoded->email.emFrom) + "</a></p>";
          }
          const std::string base =
              "/picture?box=" + url_encode(box.name) + "&file=" + url_encode(e.name) + "&n=";
          article +=
              render_email(decoded->email, [&](std::size_t n) { return base + std::to_string(n); });
        }
      } catch (const AutomationError& error) {
        if (sender) continue;
        if (!on_page) {
          ++count;
          continue;
        }
        article += "<p class=\"notice bad\">Cannot be read: " + escape(reason(error)) + "</p>";
      }
      const std::string which = hidden_name("box", box.name) + hidden_name("file", e.name);
      shown += "<article class=\"mail\"><div class=\"actions\">" + file_facts(e) + " " +
               form(call, "/buffer/release", which, "Release") + " " +
               form(call, "/buffer/reject", which + note_field(), "Reject", "danger") + " " +
               form(call, "/buffer/discard", which, "Discard", "danger") + "</div>" + article +
               "</article>";
      ++count;
    }
    if (count == 0) continue;
    total += count;
    const std::string e_mails = std::to_string(count) + (count == 1 ? " e-mail" : " e-mails");
    counts += "<tr><td><a href=\"/buffer?box=" + url_encode(box.name) +
              (sender ? "&sender=" + url_encode(*sender) : std::string()) + "\">" +
              escape(box.name) + "</a></td><td>" + std::to_string(count) + "</td></tr>";
    if (shown.empty()) continue;
    sections += "<section class=\"box\"><h2>" + escape(box.name) + " &middot; " + e_mails +
                (sender ? std::string()
                        : " " + form(call, "/buffer/release-all", hidden_name("box", box.name),
                                     "Release all")) +
                "</h2>" + shown + "</section>";
  }
  if (total == 0) {
    body += "<p>No e-mails are waiting in the Buffer folders.</p>";
    return page(call, "Buffer", "/buffer", body);
  }
  body += "<table class=\"counts\"><tr><th>Mailbox</th><th>E-mails</th></tr>" + counts +
          "<tr><td>All</td><td>" + std::to_string(total) + "</td></tr></table>";
  const std::string pager = page_links(only, sender, page_number, total);
  body += pager + sections + pager;
  return page(call, "Buffer", "/buffer", body);
}

Response Console::Impl::picture(Call& call) {
  const auto box = view.mailbox(field(call.request, "box"));
  const auto n = call.request.param("n").value_or("");
  if (!box || !box->buffer || n.empty() || n.size() > 6 ||
      n.find_first_not_of("0123456789") != std::string::npos) {
    return Response::text(404, "No such picture.\n");
  }
  const auto file = view.mail(*box->buffer, field(call.request, "file"));
  if (!file) return Response::text(404, "No such picture.\n");
  try {
    const auto decoded = read_email(store, child(*box->buffer, file->name), file->size);
    const std::size_t index = std::stoul(n);
    if (!decoded || index >= decoded->email.emMsg.Pictures.size()) {
      return Response::text(404, "No such picture.\n");
    }
    const auto& bytes = decoded->email.emMsg.Pictures.items()[index].Value.items();
    const auto type = image_media_type(bytes);
    if (!type) return Response::text(404, "No such picture.\n");
    Response r;
    r.content_type = *type;
    r.body.assign(bytes.begin(), bytes.end());
    return r;
  } catch (const AutomationError&) {
    return Response::text(404, "No such picture.\n");
  }
}

Response Console::Impl::release(Call& call) {
  const std::u16string name = name_field(call.request, "box");
  const std::u16string file = name_field(call.request, "file");
  const std::string back = "/buffer";
  std::lock_guard guard(lock);
  const auto box = view.mailbox(name);
  if (!box || !box->buffer) {
    return done(call, back, false,
                "No mailbox named " + escape(quoted(name)) + " with a Buffer is in the store.");
  }
  const auto entry = view.mail(*box->buffer, file);
  if (!entry) {
    return done(call, back, false,
                "The Buffer of " + escape(box->name) + " holds no file named " +
                    escape(quoted(file)) + ".");
  }
  if (const auto failure = release_from(*this, *box, {entry->name}).front()) {
    return done(call, back, false,
                "Not released: " + escape(quoted(entry->name)) + " for " + escape(box->name) +
                    ": " + escape(*failure) + ".");
  }
  log_action(call,
             u"released " + quoted(entry->name) + u" from the Buffer of " + quoted(box->name) +
                 u" into the Inbox",
             EventType::kInformation);
  return done(
      call, back, true,
      "Released " + escape(quoted(entry->name)) + " into the Inbox of " + escape(box->name) + ".");
}

// Every e-mail of one mailbox's Buffer, or every buffered e-mail of one sender.
Response Console::Impl::release_all(Call& call) {
  const std::u16string sender = field(call.request, "sender");
  std::optional<std::u16string> box_name;
  if (call.request.param("box") || sender.empty()) box_name = name_field(call.request, "box");
  std::lock_guard guard(lock);
  std::optional<Mailbox> box;
  if (box_name) {
    box = view.mailbox(*box_name);
    if (!box || !box->buffer) {
      return done(call, "/buffer", false,
                  "No mailbox named " + escape(quoted(*box_name)) + " with a Buffer is in the store.");
    }
  }
  std::size_t released = 0;
  std::u16string failures;
  std::string failures_html;
  const auto from = sender.empty() ? std::nullopt : std::optional(sender);
  const auto mails = buffered(box ? std::optional(box->name) : std::nullopt, from);
  // The e-mails come mailbox by mailbox: each mailbox's run is released as one batch.
  for (std::size_t first = 0; first < mails.size();) {
    std::size_t end = first;
    std::vector<std::u16string> names;
    while (end < mails.size() && mails[end].box.name == mails[first].box.name) {
      names.push_back(mails[end++].entry.name);
    }
    const auto answers = release_from(*this, mails[first].box, names);
    for (std::size_t i = 0; i < answers.size(); ++i) {
      const Buffered& mail = mails[first + i];
      if (const auto& failure = answers[i]) {
        const std::u16string which =
            quoted(mail.entry.name) + (box ? u"" : u" for " + mail.box.name);
        failures += (failures.empty() ? u"" : u"; ") + which + u": " + *failure;
        failures_html += "<br>" + escape(which) + ": " + escape(*failure);
      } else {
        ++released;
      }
    }
    first = end;
  }
  const std::u16string count = platform::from_utf8(std::to_string(released));
  const std::u16string what = from ? u" from " + quoted(sender) : u"";
  const std::u16string where = box ? u" from the Buffer of " + quoted(box->name) : u"";
  if (released > 0 || !failures.empty()) {
    log_action(call,
               u"released " + count + u" e-mail(s)" + what + where + u" into the Inbox" +
                   (failures.empty() ? u"" : u"; not released: " + failures),
               failures.empty() ? EventType::kInformation : EventType::kWarning);
  }
  return done(call, "/buffer", failures.empty(),
              "Released " + std::to_string(released) + " e-mail(s)" + escape(what) +
                  (box ? " into the Inbox of " + escape(box->name) : " into their Inboxes") + "." +
                  (failures_html.empty() ? "" : " Not released:" + failures_html));
}

Response Console::Impl::errors_page(Call& call) {
  const auto error = view.error_folder();
  std::string body;
  if (!error) {
    body =
        "<p>The store has no Error folder: without it the sorter keeps undeliverable mail in "
        "MailBank and writes no log.</p>";
    return page(call, "Error folder", "/errors", body);
  }
  std::vector<LogEntry> entries;
  if (const auto log_file = view.log_file()) {
    try {
      entries = parse_log(store.read(*log_file, kLogTailBytes, true));
    } catch (const AutomationError&) {
    }
  }
  const auto find_entry = [&](const auto& matches) -> const LogEntry* {
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
      if (matches(*it)) return &*it;
    }
    return nullptr;
  };
  corvane::MailObjectModel model;
  std::size_t count = 0;
  for (const StoreEntry& e : view.files(*error)) {
    if (platform::fold_case(e.name) == platform::fold_case(kLogName)) continue;
    ++count;
    body += "<article class=\"mail\"><div class=\"actions\">" + file_facts(e) + " " +
            form(call, "/errors/retry", hidden_name("file", e.name), "Retry") + " " +
            form(call, "/errors/delete", hidden_name("file", e.name), "Delete", "danger") +
            "</div>";
    std::string dump;
    const LogEntry* why = nullptr;
    try {
      const auto decoded = read_email(store, child(*error, e.name), e.size);
      if (!decoded) {
        dump = "(too large to show here)";
      } else {
        const auto& mail = decoded->email;
        if (decoded->failure) {
          const std::u16string text = decoded->failure->description();
          why = find_entry(
              [&](const LogEntry& l) { return l.type == EventType::kError && l.text == text; });
          dump = "Cannot be read: " + platform::to_utf8(reason(*decoded->failure)) + "\n\n";
        } else {
          const std::u16string text = u"Email sent to non-existant recipient!  From: " +
                                      mail.emFrom + u"; To: " + mail.emTo;
          why = find_entry([&](const LogEntry& l) { return l.text == text; });
        }
        dump += platform::to_utf8(model.DebugEmail(mail));
      }
    } catch (const AutomationError& error_reading) {
      dump = "Cannot be read: " + platform::to_utf8(reason(error_reading));
    }
    if (!why) {
      const std::u16string named = quoted(e.name);
      why =
          find_entry([&](const LogEntry& l) { return l.text.find(named) != std::u16string::npos; });
    }
    body += "<p>Log entry: ";
    body += why ? "<code>" + escape(why->stamp) + " " + event_type_name(why->type) + "</code> " +
                      "<span class=\"logtext\">" + escape(why->text) + "</span>"
                : std::string("<span class=\"hint\">none found in the recent log</span>");
    if (dump.size() > kMaxDumpBytes) dump = dump.substr(0, kMaxDumpBytes) + "\n(cut)";
    body += "</p><details><summary>Dump</summary><pre>" + escape(dump) + "</pre></details>";
    body += "</article>";
  }
  return page(call, "Error folder", "/errors",
              count == 0 ? "<p>The Error folder holds no e-mails.</p>" : body);
}

Response Console::Impl::retry(Call& call) {
  const std::u16string file = name_field(call.request, "file");
  std::lock_guard guard(lock);
  const auto mail = find_error_mail(view, file);
  if (!mail) return done(call, "/errors", false, no_error_mail(file));
  const std::u16string& name = mail->entry.name;
  const auto drop = view.drop_folder();
  if (!drop) return done(call, "/errors", false, "The store has no MailBank folder.");
  if (name_taken(view, *drop, name)) {
    return done(call, "/errors", false,
                "Not retried: MailBank already holds a file named " + escape(quoted(name)) +
                    "; nothing was replaced.");
  }
  try {
    // Only the regular file that is listed goes back, not whatever was put at its name since.
    if (!store.move_settled(mail->path(), child(*drop, name), 0, 0)) {
      return done(call, "/errors", false,
                  "Not retried: " + escape(quoted(name)) + " is held open for writing.");
    }
  } catch (const AutomationError& e) {
    return done(call, "/errors", false,
                "Not retried: " + escape(quoted(name)) + ": " + escape(reason(e)) + ".");
  }
  log_action(call,
             u"moved " + quoted(name) + u" from Error back to MailBank for another round",
             EventType::kInformation);
  return done(
      call, "/errors", true,
      "Moved " + escape(quoted(name)) + " back to MailBank: the next round sorts it.");
}

Response Console::Impl::remove_error(Call& call) {
  const std::u16string file = name_field(call.request, "file");
  std::lock_guard guard(lock);
  const auto mail = find_error_mail(view, file);
  if (!mail) return done(call, "/errors", false, no_error_mail(file));
  const std::u16string& name = mail->entry.name;
  if (!log.ready()) {
    return done(call, "/errors", false,
                "Not deleted: the log cannot be written, and no file is deleted without its log "
                "entry.");
  }
  try {
    store.remove(mail->path());
  } catch (const AutomationError& e) {
    return done(call, "/errors", false,
                "Not deleted: " + escape(quoted(name)) + ": " + escape(reason(e)) + ".");
  }
  log_action(call, u"deleted " + quoted(name) + u" from the Error folder",
             EventType::kWarning);
  return done(call, "/errors", true, "Deleted " + escape(quoted(name)) + ".");
}

}  // namespace sorter::console
