#pragma once
// What the tray program's window needs from the sorting engine. The window owns the timers,
// the tray icon and the dialogs; everything that touches the mail store goes through here.

namespace sorter::ui {

class EnginePort {
 public:
  virtual ~EnginePort() = default;

  // The running flag of the settings file as the start-up guard reads it (False when missing
  // or not a Boolean text).
  virtual bool running_flag_set() = 0;
  // Writes the running flag "False" (the end of the main window object).
  virtual void clear_running_flag() = 0;
  // True when the user's domain and account name are one of the developer accounts, which see
  // the immediate-end menu item.
  virtual bool developer_account() = 0;
  // Binds the drop folder, creating it when missing. Throws platform::AutomationError.
  virtual void bind_drop_folder() = 0;
  // Starts the sorter log (appending) / switches it off.
  virtual void start_log() = 0;
  virtual void stop_log() = 0;
  // One tick of the sorting timer: reads the monitoring switch and runs one round.
  virtual void run_tick() = 0;
  // Releases the round's folder and file objects (after a confirmed exit).
  virtual void release_round() = 0;
};

}  // namespace sorter::ui
