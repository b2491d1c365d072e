#pragma once
// The main window: loading screen for three seconds, then hidden; owner of the sorting timer,
// the tray icon and its popup menu, the about box and the exit confirmation. The engine decides
// what happens when; this window is its host on Windows.

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
  MainWindow(HINSTANCE instance, StorePaths paths, MailReaderFactory readers);
  // The end of the window object: once loaded, the running flag is written "False".
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates and loads the window. Throws platform::AutomationError when the load fails. A
  // second copy asks to unload itself here; `loaded()` tells whether the window survived.
  void load();
  bool loaded() const { return window_ != nullptr; }
  // Shows the loaded window centred on the screen.
  void show();

  // EngineHost
  bool ask_run_anyway() override;
  bool another_copy_running() override;
  void unload_main_window() override;
  void set_developer_item_visible(bool visible) override { developer_ = visible; }
  void set_busy_pointer(bool busy) override;
  void add_tray_icon() override;
  void remove_tray_icon() override;
  void disable_check_timer() override;
  void yield() override;

 private:
  enum class CloseReason { kUser, kSessionEnd };

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
  bool in_tick_ = false;
  bool asking_ = false;
  bool terminated_ = false;
  bool pressed_on_picture_ = false;
};

}  // namespace sorter::ui
