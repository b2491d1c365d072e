#include "sorter/ui/tray_icon.h"

#include <shellapi.h>

#include <cwchar>

namespace sorter::ui {
namespace {
constexpr UINT kIconId = 1;
constexpr UINT kRetryMs = 2000;
}  // namespace

TrayIcon::TrayIcon(HWND window, UINT callback_message, UINT_PTR retry_timer, HICON icon,
                   const wchar_t* tooltip, Notify notify)
    : notify_(notify ? std::move(notify)
                     : Notify([](DWORD message, NOTIFYICONDATAW& data) {
                         return Shell_NotifyIconW(message, &data) != FALSE;
                       })),
      window_(window),
      callback_message_(callback_message),
      retry_timer_(retry_timer),
      taskbar_created_(RegisterWindowMessageW(L"TaskbarCreated")) {
  data_.cbSize = sizeof(data_);
  data_.hWnd = window;
  data_.uID = kIconId;
  data_.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
  data_.uCallbackMessage = callback_message;
  data_.hIcon = icon;
  wcsncpy(data_.szTip, tooltip, sizeof(data_.szTip) / sizeof(data_.szTip[0]) - 1);
}

TrayIcon::~TrayIcon() { remove(); }

void TrayIcon::add() {
  wanted_ = true;
  if (!try_add()) SetTimer(window_, retry_timer_, kRetryMs, nullptr);
}

void TrayIcon::remove() {
  wanted_ = false;
  KillTimer(window_, retry_timer_);
  if (shown_) notify_(NIM_DELETE, data_);
  shown_ = false;
}

bool TrayIcon::try_add() {
  if (shown_) return true;
  // After a shell restart the old entry is gone; a stale one is removed first so that the add
  // cannot fail for a duplicate.
  notify_(NIM_DELETE, data_);
  shown_ = notify_(NIM_ADD, data_);
  return shown_;
}

bool TrayIcon::on_timer(UINT_PTR timer_id) {
  if (timer_id != retry_timer_) return false;
  if (!wanted_ || try_add()) KillTimer(window_, retry_timer_);
  return true;
}

bool TrayIcon::on_message(UINT message) {
  if (message != taskbar_created_ || taskbar_created_ == 0) return false;
  shown_ = false;
  if (wanted_) add();
  return true;
}

bool TrayIcon::is_click(UINT message, LPARAM lparam) const {
  if (message != callback_message_) return false;
  const UINT mouse = LOWORD(lparam);
  return mouse == WM_LBUTTONUP || mouse == WM_RBUTTONUP;
}

}  // namespace sorter::ui
