// Sorter.exe: the start-up procedure. Reads the running flag, lets the user give up when it is
// set, then loads and shows the main window and runs the message loop until it unloads.

#include <windows.h>

#include "platform/automation_error.h"
#include "platform/environment.h"
#include "platform/utf.h"
#include "sorter/engine/lifecycle.h"
#include "sorter/ui/dll_search.h"
#include "sorter/ui/com_mail_reader.h"
#include "sorter/ui/main_window.h"
#include "sorter/ui/message_loop.h"
#include "sorter/ui/ui_text.h"

namespace {

constexpr int32_t kInternalError = 51;  // "Internal error"

// A failed load: beep, say why, end at once (the running flag is not written).
[[noreturn]] void fail_load(const platform::AutomationError& error) {
  MessageBeep(MB_OK);
  const std::u16string text = sorter::load_failure_text(error);
  MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.c_str()),
              sorter::ui::kLoadErrorTitle, sorter::ui::kLoadErrorStyle);
  ExitProcess(1);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Before anything loads a library on demand: the program's folder is the shared store.
  try {
    sorter::ui::restrict_dll_search();
  } catch (const platform::AutomationError& error) {
    fail_load(error);
  }
  const sorter::StorePaths paths(platform::executable_folder());
  sorter::ui::ComSession com;
  sorter::ui::MainWindow window(instance, paths, sorter::ui::com_mail_reader_factory());
  if (!sorter::start_up(paths, window)) return 0;
  try {
    window.load();
  } catch (const platform::AutomationError& error) {
    fail_load(error);
  } catch (const std::exception& error) {
    fail_load(platform::AutomationError(kInternalError, platform::from_utf8(error.what())));
  }
  window.show();
  if (!window.has_window()) return 0;
  return sorter::ui::run_message_loop([&window] { return window.arrival_handle(); },
                                      [&window] { window.on_arrival(); });
}
