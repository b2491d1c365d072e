#pragma once
// The program's icon in the notification area: added and removed on request, reported to its
// window as a message when the user acts on it with the mouse, put back when the shell restarts
// (the "TaskbarCreated" broadcast) and retried on a timer while the shell is not ready yet
// (a program started at log-on may run before the notification area exists).

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <functional>

namespace sorter::ui {

class TrayIcon {
 public:
  // The shell's notification-area call (Shell_NotifyIconW unless a test replaces it).
  using Notify = std::function<bool(DWORD message, NOTIFYICONDATAW& data)>;

  // `callback_message` is posted to `window` for mouse actions on the icon; `retry_timer` is a
  // timer identifier of `window` that this object may use.
  TrayIcon(HWND window, UINT callback_message, UINT_PTR retry_timer, HICON icon,
           const wchar_t* tooltip, Notify notify = {});
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Puts the icon into the notification area; when the shell refuses, retries on the timer.
  void add();
  // Takes the icon out and stops retrying.
  void remove();
  bool shown() const { return shown_; }

  // Window-procedure hooks; each returns true when it consumed the message.
  bool on_timer(UINT_PTR timer_id);
  bool on_message(UINT message);
  // The broadcast message by which a restarted shell asks for the icons again.
  UINT taskbar_created_message() const { return taskbar_created_; }
  // True when `message`/`lparam` of the callback message is a click the menu should answer.
  bool is_click(UINT message, LPARAM lparam) const;

 private:
  bool try_add();

  Notify notify_;
  HWND window_;
  UINT callback_message_;
  UINT_PTR retry_timer_;
  UINT taskbar_created_;
  NOTIFYICONDATAW data_{};
  bool wanted_ = false;
  bool shown_ = false;
};

}  // namespace sorter::ui
