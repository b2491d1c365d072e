#pragma once
// The main window: loading screen for three seconds, then hidden; owner of the sorting timer,
// the tray icon and its popup menu, the about box and the exit confirmation. The engine decides
// what happens when; this window is its host on Windows. While delivery is instant, the message
// loop also waits for the drop folder's watch and lets the window run a round on an arrival.

#include <windows.h>

#include <memory>
#include <optional>

#include "platform/instance_guard.h"
#include "sorter/engine/lifecycle.h"
#include "sorter/ui/gdi_handles.h"
#include "sorter/ui/tray_icon.h"

namespace sorter::ui {

class MainWindow final : public EngineHost {
 public:
  // check_ms: the sorting timer's period (ten seconds; tests take a longer one).
  MainWindow(HINSTANCE instance, StorePaths paths, MailReaderFactory readers,
             UINT check_ms = 10000);
  // The end of the window object: once loaded, the running flag is written "False".
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates and loads the window. Throws platform::AutomationError when the load fails. A
  // second copy asks to unload itself here; `has_window()` tells whether the window survived.
  void load();
  bool has_window() const { return window_ != nullptr; }
  // Shows the loaded window centred on the screen.
  void show();

  // The drop folder's watch for the message loop to wait for; nullptr when delivery keeps to
  // the sorting timer. on_arrival() takes what it announced and runs a round when a file
  // arrived, as a tick of the timer does. Windows tells of a file's writes, not of its close:
  // when that round leaves files waiting (one still open, most often), rounds follow after a
  // quarter of a second and then twice as long each time, while files wait, up to the timer's
  // period.
  HANDLE arrival_handle();
  void on_arrival();

  // EngineHost: the questions as modal boxes, the events on the window's own widgets.
  bool start_despite_running_flag() override;
  bool another_copy_running() override;

 private:
  enum class CloseReason { kUser, kSessionEnd };

  // EngineHost events, each on its widget.
  void refused_second_copy() override;  // unloads through the close request
  void developer_account(bool developer) override { developer_ = developer; }  // the menu item
  void loading() override;         // the hourglass, until the loading period ends
  void loaded() override;          // the tray icon added
  void round_ended() override;     // pending messages handled once
  void rounds_stopped() override;  // the sorting timer killed
  void stopping() override;        // the tray icon removed

  void show_busy(bool busy);  // hourglass (11) or default (0) pointer
  void run_round();           // a tick of the engine, unless one runs already
  void follow_up(bool after_arrival);  // the next follow-up round, or none
  void stop_check_timer();

  static LRESULT CALLBACK window_proc(HWND, UINT, WPARAM, LPARAM);
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);

  void create_window();
  void create_label();
  void on_timer(UINT_PTR id);
  void on_size(WPARAM kind);
  void on_paint();
  void on_command(UINT id);
  void show_tray_menu();
  void show_about();
  // Runs the close request; returns true when the window may unload.
  bool close_request(CloseReason reason);
  void unload(CloseReason reason);
  void end_splash();
  void terminate();

  HINSTANCE instance_;
  SorterEngine engine_;
  HWND window_ = nullptr;
  UniqueBitmap picture_;
  UniqueFont label_font_;
  UniqueIcon large_icon_;
  UniqueIcon small_icon_;
  std::optional<platform::InstanceGuard> instance_guard_;
  std::unique_ptr<TrayIcon> tray_;
  bool load_started_ = false;
  bool developer_ = false;
  bool hourglass_ = false;
  UINT check_ms_;
  UINT follow_up_ms_ = 0;  // the follow-up timer's period; 0: none set
  bool in_tick_ = false;
  bool asking_ = false;
  bool terminated_ = false;
  bool pressed_on_picture_ = false;
};

}  // namespace sorter::ui
