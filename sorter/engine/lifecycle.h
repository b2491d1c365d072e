#pragma once
// The sorter's start-up, main-window life and exit, free of any window code: the start-up
// guard on the running flag, the load (single-instance test, developer menu item, drop
// folder, tray icon), the first activation that starts the log, the sorting ticks, the
// confirmed exit in its fixed order, and the running flag written "False" at the end.
// The program's user interface implements EngineHost; the engine decides what happens when.

#include <functional>
#include <optional>
#include <string>

#include "platform/automation_error.h"
#include "sorter/engine/event_log.h"
#include "sorter/engine/mail_reader.h"
#include "sorter/engine/sorting_round.h"
#include "sorter/engine/store_paths.h"

namespace sorter {

// What the user interface does for the engine.
class EngineHost {
 public:
  virtual ~EngineHost() = default;
  // Asks whether to start although the running flag is set (modal); true to start anyway.
  virtual bool ask_run_anyway() = 0;
  // The platform's test for another copy of this program on this computer.
  virtual bool another_copy_running() = 0;
  // Unloads the main window through its close request (a copy that refuses itself).
  virtual void unload_main_window() = 0;
  virtual void set_developer_item_visible(bool visible) = 0;
  virtual void set_busy_pointer(bool busy) = 0;  // hourglass (11) or default (0)
  virtual void add_tray_icon() = 0;
  virtual void remove_tray_icon() = 0;
  virtual void disable_check_timer() = 0;
  // Lets the message loop handle pending events once (after each round).
  virtual void yield() = 0;
};

// The maker's own accounts, for which the developer-only menu item is shown: the domain and
// the user name compared in lower case; an unset variable never matches.
inline constexpr std::u16string_view kDeveloperDomain = u"kestrel";
inline constexpr std::u16string_view kDeveloperUsers[] = {u"ari", u"noor", u"tomas"};
bool is_developer_account(const std::optional<std::u16string>& domain,
                          const std::optional<std::u16string>& user);

// The running flag of Sorter.ini; false when missing, unreadable or not a boolean.
bool running_flag_set(const StorePaths& paths);

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

  // Loads the main window. False when another copy runs (the window was asked to unload);
  // throws AutomationError when the drop folder can neither be found nor created.
  bool load();
  // The window became active: the first time only, WakeUp.
  void activate();
  void WakeUp();
  // The sorting timer's tick: the monitoring switch, then one round. Nothing once stopped.
  void tick();
  // The user confirmed the exit: log off, timer disabled, objects released, icon removed.
  void exit_confirmed();
  // Windows is ending the session: the icon is removed, nothing else.
  void exit_for_session_end();
  // The main window object ends: the running flag is written "False".
  void terminate();

  bool awake() const { return awake_; }
  bool timer_enabled() const { return timer_enabled_; }
  const std::u16string& drop_folder() const { return drop_folder_; }
  EventLog& log() { return log_; }
  SortingRound& round() { return round_; }

 private:
  StorePaths paths_;
  EngineHost& host_;
  Environment environment_;
  EventLog log_;
  SortingRound round_;
  std::u16string drop_folder_;  // UNS_BOX
  bool awake_ = false;
  bool timer_enabled_ = true;
};

}  // namespace sorter
