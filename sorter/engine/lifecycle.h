#pragma once
// The sorter's start-up, life and exit, free of any window code: the start-up guard on the
// running flag, the load (single-instance test, developer account, drop folder), the first
// activation that starts the log, the sorting ticks, the confirmed exit in its fixed order,
// and the running flag written "False" at the end.
// With instant delivery ([Delivery] instant in Sorter.ini, True unless it says False) the
// load also watches the drop folder, and the host's wait between ticks ends as soon as a file
// arrives there; the tick stays as the sweep for what no notification announces.
// Each front end implements EngineHost and shows the engine's events in its own way; the
// engine decides what happens when.

#include <functional>
#include <optional>
#include <string>

#include "platform/automation_error.h"
#include "platform/folder_watch.h"
#include "sorter/engine/event_log.h"
#include "sorter/engine/mail_reader.h"
#include "sorter/engine/sorting_round.h"
#include "sorter/engine/store_paths.h"

namespace sorter {

// The front end of the engine: the two questions the engine asks, and the events of its life
// in the order they happen. A front end ignores the events it has nothing to show for.
class EngineHost {
 public:
  virtual ~EngineHost() = default;

  // The running flag says a sorter already runs on this store: true to start all the same.
  virtual bool start_despite_running_flag() = 0;
  // Whether another copy of this program runs on this computer.
  virtual bool another_copy_running() = 0;

  // This copy refuses to run beside the other one: it is to close. Nothing else follows.
  virtual void refused_second_copy() {}
  // Whether the account is one of the maker's own, to whom developer commands are offered.
  virtual void developer_account(bool /*developer*/) {}
  // The load starts preparing the store (drop folder, leftovers of a killed sorter).
  virtual void loading() {}
  // Before loaded(): whether the drop folder is watched for arriving files. Not watched
  // with an empty reason: instant delivery is switched off; with a reason (also in the log
  // once it starts): the system cannot watch the folder, and the ticks alone sort it.
  virtual void arrivals_watched(bool /*watched*/, const std::u16string& /*reason*/) {}
  // The load is done: the drop folder is bound and the ticks sort it.
  virtual void loaded() {}
  // A round over the drop folder ended; a front end with an event loop lets it run once.
  virtual void round_ended() {}
  // The confirmed exit: no tick sorts any more.
  virtual void rounds_stopped() {}
  // The sorter is going away (a confirmed exit, or the end of the session).
  virtual void stopping() {}
};

// The maker's own accounts, for which the developer-only menu item is shown: the domain and
// the user name compared in lower case; an unset variable never matches.
inline constexpr std::u16string_view kDeveloperDomain = u"kestrel";
inline constexpr std::u16string_view kDeveloperUsers[] = {u"ari", u"noor", u"tomas"};
bool is_developer_account(const std::optional<std::u16string>& domain,
                          const std::optional<std::u16string>& user);

// The running flag of Sorter.ini; false when missing, unreadable or not a boolean.
bool running_flag_set(const StorePaths& paths);

// [Delivery] instant of Sorter.ini; true unless it is a boolean that says false.
bool instant_delivery_set(const StorePaths& paths);

// Main: true when the main window is to be shown (flag clear, or the user starts anyway).
bool start_up(const StorePaths& paths, EngineHost& host);

// The text of the message box for a failed load: "Error: " number " - " description.
std::u16string load_failure_text(const platform::AutomationError& e);

class SorterEngine {
 public:
  using Environment = std::function<std::optional<std::u16string>(std::u16string_view)>;
  using Clock = std::function<double()>;

  SorterEngine(StorePaths paths, EngineHost& host, MailReaderFactory factory);
  SorterEngine(StorePaths paths, EngineHost& host, MailReaderFactory factory,
               Environment environment, Clock clock, RoundOptions options);

  // Before load(): false keeps the rounds to the tick whatever Sorter.ini says.
  void allow_instant_delivery(bool allowed) { instant_allowed_ = allowed; }
  // Loads the sorter. False when another copy runs (the host heard of the refusal);
  // throws AutomationError when the drop folder can neither be found nor created.
  bool load();
  // The window became active: the first time only, WakeUp.
  void activate();
  void WakeUp();
  // The sorting timer's tick: the monitoring switch, then one round. Nothing once stopped.
  // A watch lost with its folder (removed, renamed) is set again after the round.
  void tick();
  // The user confirmed the exit: log off, rounds stopped, objects released, then stopping.
  void exit_confirmed();
  // Windows is ending the session: the host hears of the stop, nothing else happens.
  void exit_for_session_end();
  // The main window object ends: the running flag is written "False".
  void terminate();

  bool awake() const { return awake_; }
  bool timer_enabled() const { return timer_enabled_; }
  const std::u16string& drop_folder() const { return drop_folder_; }
  EventLog& log() { return log_; }
  // The drop folder's watch while delivery is instant: the host waits on its handle besides
  // the tick, and ticks when take_arrivals() says a file arrived. Null when delivery keeps to
  // the tick (switched off, not watchable, or the rounds stopped). Asked anew for each wait.
  platform::FolderWatch* arrivals() { return arrivals_ ? &*arrivals_ : nullptr; }
  SortingRound& round() { return round_; }

 private:
  StorePaths paths_;
  EngineHost& host_;
  Environment environment_;
  EventLog log_;
  SortingRound round_;
  std::u16string drop_folder_;  // UNS_BOX
  void watch_arrivals();
  void keep_watching();

  bool awake_ = false;
  bool timer_enabled_ = true;
  bool instant_allowed_ = true;
  std::optional<platform::FolderWatch> arrivals_;
  std::u16string unwatched_;  // why the folder is not watched, for the log once it starts
};

}  // namespace sorter
