// Sorter.exe: the start-up procedure. Reads the running flag, lets the user give up when it is
// set, then loads and shows the main window and runs the message loop until it unloads.

#include <windows.h>

#include "platform/automation_error.h"
#include "sorter/ui/already_dialog.h"
#include "sorter/ui/engine_adapter.h"
#include "sorter/ui/main_window.h"
#include "sorter/ui/ui_text.h"

namespace {

// A failed load: beep, say why, end at once (the running flag is not written).
[[noreturn]] void fail_load(const platform::AutomationError& error) {
  MessageBeep(MB_OK);
  const std::u16string& d = error.description();
  const std::wstring text =
      sorter::ui::load_error_text(error.number(), std::wstring(d.begin(), d.end()));
  MessageBoxW(nullptr, text.c_str(), sorter::ui::kLoadErrorTitle, sorter::ui::kLoadErrorStyle);
  ExitProcess(1);
}

int run_message_loop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  sorter::ui::EngineAdapter engine;
  if (engine.running_flag_set() && !sorter::ui::ask_run_anyway(instance)) return 0;
  sorter::ui::MainWindow window(instance, engine);
  try {
    window.load();
  } catch (const platform::AutomationError& error) {
    fail_load(error);
  }
  window.show();
  return window.loaded() ? run_message_loop() : 0;
}
