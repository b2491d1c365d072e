#pragma once
// The main window: loading screen for three seconds, then hidden; owner of the sorting timer,
// the tray icon and its popup menu, the about box and the exit confirmation.

#include <windows.h>

#include <memory>

#include "sorter/ui/engine_port.h"
#include "sorter/ui/gdi_handles.h"
#include "sorter/ui/tray_icon.h"

namespace sorter::ui {

class MainWindow {
 public:
  MainWindow(HINSTANCE instance, EnginePort& engine);
  // The end of the window object: the running flag is written "False".
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates and loads the window (timers, single-instance test, developer item, drop folder,
  // hourglass, tray icon). Throws platform::AutomationError when the load fails. A second copy
  // asks to unload itself here; `loaded()` tells whether the window survived.
  void load();
  bool loaded() const { return window_ != nullptr; }
  // Shows the loaded window centred on the screen.
  void show();

 private:
  enum class CloseReason { kUser, kSessionEnd };

  static LRESULT CALLBACK window_proc(HWND, UINT, WPARAM, LPARAM);
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);

  void create_window();
  void create_label();
  bool another_copy_runs();
  void on_activate();
  void on_timer(UINT_PTR id);
  void on_size(WPARAM kind);
  void on_paint();
  void on_command(UINT id);
  void show_tray_menu();
  void show_about();
  // Runs the close request; returns true when the window may unload.
  bool close_request(CloseReason reason);
  void unload(CloseReason reason);
  void stop_sorting();
  void end_splash();
  void terminate();

  HINSTANCE instance_;
  EnginePort& engine_;
  HWND window_ = nullptr;
  UniqueBitmap picture_;
  UniqueIcon large_icon_;
  UniqueIcon small_icon_;
  UniqueHandle instance_mutex_;
  std::unique_ptr<TrayIcon> tray_;
  bool developer_ = false;
  bool awake_ = false;
  bool hourglass_ = false;
  bool in_tick_ = false;
  bool sorting_ = false;
  bool terminated_ = false;
  bool pressed_on_picture_ = false;
  bool asking_ = false;
};

}  // namespace sorter::ui
