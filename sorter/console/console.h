#pragma once
// The store console: the teacher's and administrator's web pages over one mail store. Each
// request is a value in and a response out (see http.h); the server layer only carries them.
//
// Pages: overview, mailboxes, buffer review, error folder, log, lessons. Actions (POST only,
// with the session's form token): monitoring on/off, clear a mailbox's error flag, release one
// buffered e-mail, a whole buffer or one sender's e-mails into the Inbox, reject one or one
// sender's with a note to the sender, discard one, retry or delete a file of the error
// folder, show a lesson file, import a lesson CSV file. Every action that changes the store
// writes one entry into the sorter's log, naming the teacher and the address used.
//
// A console action holds the store lock for as long as it touches files; the sorter holds the
// same lock during a round, so the two never move the same file at once.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sorter/console/http.h"
#include "sorter/console/sessions.h"
#include "sorter/console/store_access.h"
#include "sorter/engine/event_log.h"
#include "sorter/engine/sorting_round.h"

namespace sorter::console {

// What the sorter in this process says about delivery.
struct DeliveryStatus {
  std::optional<double> last_round;  // automation date
  RoundReport last_report;
  double interval_seconds = 10;
};

struct ConsoleOptions {
  std::string access_token;
  // The teachers' accounts (see accounts.h); empty for none.
  std::string users_file;
  // Whether the access token logs in also once accounts exist (a console on a loopback
  // address); before the first account it always does.
  bool token_with_accounts = true;
  SessionTimes session_times;
  // Who a rejection notice comes from; the teacher's name (or "Store console" after a login
  // with the token) when empty.
  std::string notice_from;
  // Empty when no sorter runs in this process (the `corvane console` mode).
  std::function<std::optional<DeliveryStatus>()> delivery;
  // Whether some sorter holds the store's instance lock; empty when that cannot be told.
  std::function<std::optional<bool>()> sorter_running;
  std::function<double()> clock;  // local time as an automation date
  Sessions::Random random;        // fresh secrets; the system's source by default
};

// Serves one request at a time: the server's workers call it one after another.
class Console {
 public:
  Console(StoreAccess& store, std::mutex& store_lock, EventLog& log, ConsoleOptions options);
  ~Console();

  Response handle(const Request& request);
  // Whether the request's cookie names a live session (asked before its body is read).
  bool in_session(const Request& request);

  struct Impl;  // defined in console_impl.h, for the console's own files

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace sorter::console
