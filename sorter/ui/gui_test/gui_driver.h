#pragma once
// Drives a running Sorter.exe from another process the way a user would: finds its windows,
// reads their texts and sizes, presses message-box buttons and works its popup menu.

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sorter::gui_test {

using namespace std::chrono_literals;

// Polls `ready` every 100 ms until it answers true or `limit` passes.
bool wait_until(const std::function<bool()>& ready, std::chrono::milliseconds limit);

// A copy of Sorter.exe started in its own program folder; ended by force if still running
// when the object goes.
class Program {
 public:
  // `environment` entries ("NAME=value") replace or add to this process's variables.
  explicit Program(const std::filesystem::path& exe,
                   const std::vector<std::wstring>& environment = {});
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  DWORD pid() const { return info_.dwProcessId; }
  bool running() const;
  // Waits for the process to end; its exit code, or nothing when it still runs.
  std::optional<DWORD> wait_exit(std::chrono::milliseconds limit) const;

 private:
  PROCESS_INFORMATION info_{};
};

// The visible-or-not top-level window of `pid` with the class and caption given (nullptr for
// any); nullptr when there is none.
HWND find_window(DWORD pid, const wchar_t* class_name, const wchar_t* caption,
                 bool visible_only = true);
HWND wait_window(DWORD pid, const wchar_t* class_name, const wchar_t* caption,
                 std::chrono::milliseconds limit = 10s);

std::wstring window_text(HWND window);
SIZE client_size(HWND window);
// A child's rectangle in its parent's client coordinates.
RECT child_rect(HWND child);
// A child window of `parent` with the given class and text; nullptr when none.
HWND find_child(HWND parent, const wchar_t* class_name, const wchar_t* text);

// A message box (class #32770) of `pid`, its text (control 0xFFFF) and a button press.
HWND wait_message_box(DWORD pid, const wchar_t* title, std::chrono::milliseconds limit = 10s);
std::wstring message_box_text(HWND box);
void press(HWND dialog, int button_id);

// Presses a button the way automation tools do, from this process: BM_CLICK sent to the
// button, or the button's WM_COMMAND sent to its dialog. Each waits at most five seconds for
// the program to take the message.
void send_click(HWND button);
void send_command(HWND dialog, int control_id);
// A click of the left mouse button in the middle of a window, as mouse input carrying its point.
void click_with_mouse(HWND window);
// Clicks `button` with the mouse until `dialog` goes away (a few tries): on a loaded machine a click
// can arrive before the dialog is in front and ready for input, and is then lost.
void click_with_mouse_until_gone(HWND dialog, HWND button);

// An open popup menu (class #32768) of `pid`. Its items cannot be read from another process
// everywhere (menus are process-local under Wine): tests choose items and watch the effect.
HWND wait_popup_menu(DWORD pid, std::chrono::milliseconds limit = 10s);
// Chooses the `index`-th item that can be selected (0-based; separators do not count) with
// the keyboard.
void choose_menu_item(HWND menu_window, int index);

}  // namespace sorter::gui_test
