#pragma once
// The console's insides, shared by the files that build its pages and actions.

#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include <string_view>

#include "sorter/console/accounts.h"
#include "sorter/console/console.h"
#include "sorter/console/front_door.h"
#include "sorter/console/log_reader.h"
#include "sorter/console/store_view.h"

namespace sorter::console {

// A buffered e-mail an action found: its mailbox, its file, and its record once read.
struct Buffered {
  Mailbox box;
  StoreEntry entry;
  std::optional<corvane::EmailMsg> email;
};

// One request on its way through the console.
struct Call {
  const Request& request;
  Session* session = nullptr;
};

struct Console::Impl {
  Impl(StoreAccess& store, std::mutex& lock, EventLog& log, ConsoleOptions options);

  Response handle(const Request& request);

  // Access.
  Response login_page(const Request& request, int status, std::string_view message);
  Response login(const Request& request);
  bool token_allowed();
  // The session a request's cookie names, if it is live and its teacher still has an account.
  Session* session_of(const Request& request);
  Response logout(Call& call);

  // Pages (console_store_pages.cpp, console_mail_pages.cpp, console_log_lessons.cpp).
  Response overview(Call& call);
  Response mailboxes_page(Call& call);
  Response buffer_page(Call& call);
  Response picture(Call& call);
  Response errors_page(Call& call);
  Response log_page(Call& call);
  Response lessons_page(Call& call);

  // Actions.
  Response set_monitoring(Call& call);
  Response clear_flag(Call& call);
  Response release(Call& call);
  Response release_all(Call& call);
  Response reject(Call& call);
  Response reject_all(Call& call);
  Response discard(Call& call);
  Response retry(Call& call);
  Response remove_error(Call& call);
  Response show_lesson(Call& call);
  Response import_lesson(Call& call);

  // Moderation (console_moderation.cpp).
  // The buffered e-mails of one mailbox (every one when box is none) from one sender (any
  // when none), in the order of the mailboxes and their files.
  std::vector<Buffered> buffered(const std::optional<std::u16string>& box,
                                 const std::optional<std::u16string>& sender);
  std::optional<corvane::EmailMsg> buffered_email(const Buffered& mail);
  std::optional<Buffered> named_buffered(Call& call, std::string& refusal);
  std::optional<std::u16string> note_of(Call& call, std::string& refusal);
  // Writes the sender's notice into MailBank, then removes the e-mail; the reason when not.
  std::optional<std::u16string> reject_one(const Call& call, const Buffered& mail,
                                           const std::u16string& note);
  std::u16string notice_sender(const Call& call) const;

  // Building blocks.
  // The page with the console's header and navigation around body; nav names the current page.
  Response page(Call& call, std::string_view title, std::string_view nav, const std::string& body);
  std::string form(Call& call, std::string_view action, std::string_view fields_html,
                   std::string_view button, std::string_view css_class = "");
  Response done(Call& call, std::string location, bool ok, std::string html);
  // One log entry for an action, naming the console, the teacher and the caller's address.
  void log_action(const Call& call, const std::u16string& text, EventType type);
  double now() const;

  StoreAccess& store;
  StoreView view;
  std::mutex& lock;
  EventLog& log;
  ConsoleOptions options;
  Sessions sessions;
  Accounts accounts;
  LoginThrottle throttle;
};

// The value of a field as UTF-16 text, empty when missing.
std::u16string field(const Request& request, std::string_view name);
// A hidden form field.
std::string hidden(std::string_view name, std::u16string_view value);
// A hidden form field that carries a name from the store, and the name read back from a form.
// A browser turns bytes of a page that are not UTF-8 into U+FFFD before it sends a field
// back, so the field holds the name url_encoded: it comes back exactly as it was listed.
std::string hidden_name(std::string_view field_name, std::u16string_view name);
std::u16string name_field(const Request& request, std::string_view field_name);
// One log entry as a row of a log table: time, type (coloured by its number), text.
std::string log_row(const LogEntry& entry);

}  // namespace sorter::console
