// Overview and mailboxes: delivery state, the monitoring switch, counts, the mailboxes with
// their error flags.

#include <algorithm>

#include "platform/utf.h"
#include "sorter/console/console_impl.h"
#include "sorter/console/html.h"
#include "sorter/console/log_reader.h"
#include "sorter/engine/settings.h"
#include "sorter/engine/store_paths.h"

namespace sorter::console {
namespace {

constexpr std::size_t kWaitingShown = 50;
constexpr std::size_t kLogEntriesShown = 10;
constexpr std::size_t kLogTailBytes = 64 * 1024;
// Three rounds of the default interval and the two seconds a fresh file waits, with room.
constexpr double kStalledSeconds = 60;

std::string card(std::string_view label, std::string_view value, std::string_view href = {}) {
  std::string out = "<div class=\"card\"><div class=\"big\">";
  out += href.empty() ? std::string(value)
                      : "<a href=\"" + std::string(href) + "\">" + std::string(value) + "</a>";
  return out + "</div>" + std::string(label) + "</div>";
}

std::string state(const char* cls, std::string_view text) {
  return std::string("<span class=\"state ") + cls + "\">" + std::string(text) + "</span>";
}

bool monitoring_on(const StoreView& view) {
  try {
    return text_to_boolean(
               view.store().read_setting(view.settings_file(), u"Monitoring", u"value", u"False"))
        .value_or(false);
  } catch (const platform::AutomationError&) {
    return false;
  }
}

std::u16string flag_of(const StoreView& view, const Mailbox& box) {
  const auto ini = view.fixed(box.path, kClientIniName, platform::EntryKind::file);
  if (!ini) return {};
  try {
    return view.store().read_setting(*ini, u"Errors", u"Status", u"");
  } catch (const platform::AutomationError&) {
    return {};
  }
}

bool flag_set(const std::u16string& value) { return !value.empty() && value != u"0"; }

std::string report_text(const RoundReport& r) {
  return std::to_string(r.delivered) + " delivered, " + std::to_string(r.to_error) + " to Error, " +
         std::to_string(r.deleted) + " deleted, " + std::to_string(r.waiting) + " waiting, " +
         std::to_string(r.stuck) + " stuck";
}

}  // namespace

Response Console::Impl::overview(Call& call) {
  std::string body = "<h2>Delivery</h2><p>";
  const auto delivery = options.delivery ? options.delivery() : std::nullopt;
  if (delivery) {
    body += state("on", "Delivery running") + " in this process, a round every " +
            std::to_string(static_cast<long>(delivery->interval_seconds)) + " s. ";
    body += delivery->last_round ? "Last round at " + date_text(delivery->last_round) + ": " +
                                       report_text(delivery->last_report) + "."
                                 : std::string("No round yet.");
  } else {
    const auto running = options.sorter_running ? options.sorter_running() : std::nullopt;
    if (!running) {
      body += state("unknown", "Delivery unknown") +
              " This console runs without a sorter and cannot see the store's lock.";
    } else if (*running) {
      body += state("on", "Delivery running") + " A sorter holds the store's lock.";
    } else {
      body += state("off", "Delivery stopped") + " No sorter holds the store's lock.";
    }
  }
  const bool monitoring = monitoring_on(view);
  body += "</p><h2>Monitoring</h2><p>";
  body += monitoring ? state("on", "Monitoring on") +
                           " New mail is held in each mailbox's Buffer until it is released. "
                     : state("off", "Monitoring off") + " New mail goes straight to the Inbox. ";
  body += form(call, "/monitoring", hidden("value", monitoring ? u"off" : u"on"),
               monitoring ? "Turn monitoring off" : "Turn monitoring on");
  body += "</p>";

  const auto drop = view.drop_folder();
  const auto waiting = drop ? view.files(*drop) : std::vector<StoreEntry>{};
  const auto error = view.error_folder();
  std::size_t errors = 0;
  if (error) {
    for (const StoreEntry& e : view.files(*error)) {
      if (platform::fold_case(e.name) != platform::fold_case(kLogName)) ++errors;
    }
  }
  std::size_t inbox = 0, buffered = 0;
  const auto boxes = view.mailboxes();
  for (const Mailbox& box : boxes) {
    if (box.inbox) inbox += view.mails(*box.inbox).size();
    if (box.buffer) buffered += view.mails(*box.buffer).size();
  }
  body += "<h2>Folders</h2><div class=\"cards\">";
  body += card("waiting in MailBank", drop ? std::to_string(waiting.size()) : "missing");
  body += card("in Buffer folders", std::to_string(buffered), "/buffer");
  body += card("in Error", error ? std::to_string(errors) : "missing", "/errors");
  body += card("in Inbox folders", std::to_string(inbox));
  body += card("mailboxes", std::to_string(boxes.size()), "/mailboxes");
  body += "</div>";

  double oldest = 0;
  for (const StoreEntry& e : waiting) oldest = std::max(oldest, e.age_seconds.value_or(0.0));
  if (oldest > kStalledSeconds) {
    body += "<p class=\"notice bad\">The oldest file in MailBank has waited " + age_text(oldest) +
            ": delivery seems to have stopped, or a file cannot be moved (see the log).</p>";
  }
  if (!waiting.empty()) {
    body += "<h2>Waiting in MailBank</h2><table><tr><th>File</th><th>Size</th><th>Age</th></tr>";
    for (std::size_t i = 0; i < waiting.size() && i < kWaitingShown; ++i) {
      const StoreEntry& e = waiting[i];
      body += "<tr><td>" + escape(e.name) + "</td><td class=\"num\">" + size_text(e.size) +
              "</td><td class=\"num\">" +
              (e.age_seconds ? age_text(*e.age_seconds) : std::string("-")) + "</td></tr>";
    }
    body += "</table>";
    if (waiting.size() > kWaitingShown) {
      body +=
          "<p class=\"hint\">and " + std::to_string(waiting.size() - kWaitingShown) + " more.</p>";
    }
  }

  body += "<h2>Latest log entries</h2>";
  std::vector<LogEntry> entries;
  if (const auto file = view.log_file()) {
    try {
      entries = parse_log(store.read(*file, kLogTailBytes, true));
    } catch (const platform::AutomationError&) {
    }
  }
  if (entries.empty()) {
    body += "<p class=\"hint\">No log entries.</p>";
  } else {
    body += "<table class=\"log\">";
    for (std::size_t i = 0; i < entries.size() && i < kLogEntriesShown; ++i) {
      body += log_row(entries[entries.size() - 1 - i]);
    }
    body += "</table><p><a href=\"/log\">The whole log</a></p>";
  }
  return page(call, "Overview", "/", body);
}

Response Console::Impl::set_monitoring(Call& call) {
  const auto value = call.request.param("value").value_or("");
  if (value != "on" && value != "off") {
    return done(call, "/", false, "Monitoring was not changed: say on or off.");
  }
  const bool on = value == "on";
  {
    std::lock_guard guard(lock);
    try {
      store.write_setting(view.settings_file(), u"Monitoring", u"value", on ? u"True" : u"False");
    } catch (const platform::AutomationError& e) {
      return done(call, "/", false, "Monitoring was not changed: " + escape(e.description()));
    }
    log_action(call,
               on ? u"monitoring switched on: new mail is held in the Buffer folders"
                  : u"monitoring switched off: new mail goes to the Inbox folders",
               EventType::kInformation);
  }
  return done(call, "/", true,
              on ? "Monitoring is on: from the next round, new mail waits in the Buffer folders."
                 : "Monitoring is off: from the next round, new mail goes to the Inbox folders.");
}

Response Console::Impl::mailboxes_page(Call& call) {
  const auto boxes = view.mailboxes();
  if (boxes.empty()) {
    return page(call, "Mailboxes", "/mailboxes",
                "<p>The store has no mailboxes (no folders in MailBox).</p>");
  }
  std::string body =
      "<table><tr><th>Mailbox</th><th>Inbox</th><th>Buffer</th><th>Last delivery to "
      "Inbox</th><th>Last delivery to Buffer</th><th>Error flag</th></tr>";
  for (const Mailbox& box : boxes) {
    const auto count = [&](const std::optional<StorePath>& folder) -> std::string {
      return folder ? std::to_string(view.mails(*folder).size()) : "missing";
    };
    const std::u16string flag = flag_of(view, box);
    const std::string buffered = count(box.buffer);
    body += "<tr><td>" + escape(box.name) + "</td><td class=\"num\">" + count(box.inbox) +
            "</td><td class=\"num\">";
    body += buffered != "0" && buffered != "missing"
                ? "<a href=\"/buffer?box=" + url_encode(box.name) + "\">" + buffered + "</a>"
                : buffered;
    body += "</td><td>" + date_text(box.inbox ? view.time_stamp(*box.inbox) : std::nullopt) +
            "</td><td>" + date_text(box.buffer ? view.time_stamp(*box.buffer) : std::nullopt) +
            "</td><td>";
    if (flag_set(flag)) {
      body += state("off", "set (" + escape(flag) + ")") + " " +
              form(call, "/mailboxes/clear-flag", hidden_name("box", box.name), "Clear");
    } else {
      body += "-";
    }
    body += "</td></tr>";
  }
  body +=
      "</table><p class=\"hint\">The error flag is set when this mailbox's user sent mail to "
      "a recipient without a mailbox; the user's mail program shows it.</p>";
  return page(call, "Mailboxes", "/mailboxes", body);
}

Response Console::Impl::clear_flag(Call& call) {
  const std::u16string name = name_field(call.request, "box");
  std::lock_guard guard(lock);
  const auto box = view.mailbox(name);
  if (!box) {
    return done(call, "/mailboxes", false,
                "No mailbox named &quot;" + escape(name) + "&quot; is in the store.");
  }
  const auto ini = view.fixed(box->path, kClientIniName, platform::EntryKind::file);
  if (!ini || !flag_set(flag_of(view, *box))) {
    return done(call, "/mailboxes", true,
                "The error flag of " + escape(box->name) + " was not set.");
  }
  try {
    store.write_setting(*ini, u"Errors", u"Status", u"0");
  } catch (const platform::AutomationError& e) {
    return done(
        call, "/mailboxes", false,
        "The error flag of " + escape(box->name) + " was not cleared: " + escape(e.description()));
  }
  log_action(call, u"cleared the error flag of mailbox \"" + box->name + u"\"", EventType::kInformation);
  return done(call, "/mailboxes", true, "The error flag of " + escape(box->name) + " is cleared.");
}

}  // namespace sorter::console
