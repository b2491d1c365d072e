#include "sorter/ui/main_window.h"

#include "platform/automation_error.h"
#include "platform/utf.h"
#include "sorter/ui/already_dialog.h"
#include "sorter/ui/tray_menu.h"
#include "sorter/ui/resource_ids.h"
#include "sorter/ui/ui_text.h"
#include "sorter/ui/version_resource.h"
#include "sorter/ui/window_fit.h"

namespace sorter::ui {
namespace {

constexpr wchar_t kClassName[] = L"SorterMainWindow";
// The name every copy of the program claims while it runs.
constexpr char16_t kInstanceName[] = u"QuenbyEmailSorter.MainWindow";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_BORDER;
constexpr int kDesignedClientWidth = 472;
constexpr int kDesignedClientHeight = 376;

constexpr UINT_PTR kTimerCheck = 1;   // tmrCheck: the sorting round
constexpr UINT_PTR kTimerSplash = 2;  // tmrSplash: end of the loading period
constexpr UINT_PTR kTimerTrayRetry = 3;
constexpr UINT_PTR kTimerFollowUp = 4;  // rounds after an arrival while files wait
constexpr UINT kFirstFollowUpMs = 250;
constexpr UINT kSplashMs = 3000;
constexpr UINT kTrayMessage = WM_APP + 1;

constexpr int kLabelLeft = 184, kLabelTop = 344, kLabelWidth = 110, kLabelHeight = 13;

// A failed window-system call during the load, reported with the system's error code.
platform::AutomationError last_error(const wchar_t* what) {
  const std::wstring text =
      std::wstring(what) + L" failed (system error " + std::to_wstring(GetLastError()) + L")";
  return platform::AutomationError(platform::errnum::kOutOfMemory,
                                   std::u16string(text.begin(), text.end()));
}

Extent bitmap_extent(HBITMAP bitmap) {
  BITMAP info{};
  if (!bitmap || !GetObjectW(bitmap, sizeof(info), &info)) return {};
  return {info.bmWidth, info.bmHeight};
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, StorePaths paths, MailReaderFactory readers,
                       UINT check_ms)
    : instance_(instance), engine_(std::move(paths), *this, std::move(readers)),
      check_ms_(check_ms) {}

MainWindow::~MainWindow() {
  if (window_) DestroyWindow(window_);
  terminate();
}

void MainWindow::terminate() {
  if (terminated_ || !load_started_) return;
  terminated_ = true;
  try {
    engine_.terminate();
  } catch (const std::exception&) {
    // The flag is advisory; the program ends all the same.
  }
}

void MainWindow::create_window() {
  large_icon_.reset(static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_SORTER),
                                                  IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                  GetSystemMetrics(SM_CYICON), 0)));
  small_icon_.reset(static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_SORTER),
                                                  IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                  GetSystemMetrics(SM_CYSMICON), 0)));
  picture_.reset(static_cast<HBITMAP>(LoadImageW(instance_, MAKEINTRESOURCEW(IDB_SORT),
                                                 IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = window_proc;
  wc.hInstance = instance_;
  wc.hIcon = large_icon_.get();
  wc.hIconSm = small_icon_.get();
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = kClassName;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw last_error(L"RegisterClassEx");
  RECT frame{0, 0, kDesignedClientWidth, kDesignedClientHeight};
  AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  window_ = CreateWindowExW(0, kClassName, kMainCaption, kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr,
                            nullptr, instance_, this);
  if (!window_) throw last_error(L"CreateWindowEx");
  create_label();
  tray_ = std::make_unique<TrayIcon>(window_, kTrayMessage, kTimerTrayRetry, small_icon_.get(),
                                     kTrayTooltip);
}

void MainWindow::create_label() {
  // One line, clipped at the label's edge rather than wrapped out of its 13 pixels.
  HWND label = CreateWindowExW(0, L"STATIC", kLoadingText,
                               WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, kLabelLeft, kLabelTop,
                               kLabelWidth, kLabelHeight, window_, nullptr, instance_, nullptr);
  // The form's default font: MS Sans Serif 8.25 pt.
  label_font_ = make_font(L"MS Sans Serif", 8.25, false);
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(label_font_.get()), FALSE);
}

void MainWindow::load() {
  load_started_ = true;
  create_window();
  // Both timers count from the window's creation.
  SetTimer(window_, kTimerCheck, check_ms_, nullptr);
  SetTimer(window_, kTimerSplash, kSplashMs, nullptr);
  if (engine_.load() || !window_) return;
  // A second copy whose unload was refused: its drop folder is not bound, so it does not sort,
  // and it has no tray icon, so it keeps its window on screen to stay reachable.
  stop_check_timer();
  KillTimer(window_, kTimerSplash);
}

bool MainWindow::start_despite_running_flag() { return ask_run_anyway(instance_); }

bool MainWindow::another_copy_running() {
  instance_guard_.emplace(kInstanceName);
  return instance_guard_->another_copy_running();
}

void MainWindow::refused_second_copy() { unload(CloseReason::kUser); }

void MainWindow::loading() { show_busy(true); }

void MainWindow::show_busy(bool busy) {
  hourglass_ = busy;
  SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

void MainWindow::loaded() {
  if (tray_) tray_->add();
}

void MainWindow::stopping() {
  if (tray_) tray_->remove();
}

void MainWindow::rounds_stopped() { stop_check_timer(); }

void MainWindow::stop_check_timer() {
  if (!window_) return;
  KillTimer(window_, kTimerCheck);
  KillTimer(window_, kTimerFollowUp);
}

void MainWindow::round_ended() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the main loop to see
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void MainWindow::show() {
  if (!window_) return;
  // Fitted to the picture before it first becomes visible, so that no frame of the designed
  // size is ever seen; the size notification of the first show then finds nothing to change.
  on_size(SIZE_RESTORED);
  RECT r;
  GetWindowRect(window_, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  SetWindowPos(window_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
}

LRESULT CALLBACK MainWindow::window_proc(HWND hwnd, UINT message, WPARAM wparam,
                                         LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->window_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wparam, lparam);
  return self->handle(message, wparam, lparam);
}

LRESULT MainWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  HWND hwnd = window_;
  if (tray_ && tray_->on_message(message)) return 0;
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE) engine_.activate();
      break;
    case WM_TIMER:
      on_timer(wparam);
      return 0;
    case WM_SIZE:
      on_size(wparam);
      return 0;
    case WM_PAINT:
      on_paint();
      return 0;
    case WM_SETCURSOR:
      if (hourglass_ && LOWORD(lparam) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_CTLCOLORSTATIC:
      SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    case WM_LBUTTONDOWN:
      pressed_on_picture_ = true;
      return 0;
    case WM_LBUTTONUP:
      // A click on the picture asks to exit.
      if (pressed_on_picture_) {
        pressed_on_picture_ = false;
        unload(CloseReason::kUser);
      }
      return 0;
    case WM_COMMAND:
      on_command(LOWORD(wparam));
      return 0;
    case kTrayMessage:
      if (tray_ && tray_->is_click(message, lparam)) show_tray_menu();
      return 0;
    case WM_CLOSE:
      unload(CloseReason::kUser);
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wparam) {
        unload(CloseReason::kSessionEnd);
        // The process may be ended as soon as this message returns.
        terminate();
      }
      return 0;
    case WM_DESTROY:
      window_ = nullptr;
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

void MainWindow::on_timer(UINT_PTR id) {
  if (tray_ && tray_->on_timer(id)) return;
  if (id == kTimerSplash) {
    end_splash();
  } else if (id == kTimerCheck) {
    run_round();
  } else if (id == kTimerFollowUp && !in_tick_) {
    run_round();
    follow_up(false);
  }
}

// After an arrival's round the follow-ups start again from the shortest period; each one
// doubles it, and they end when no file waits or the period reaches the timer's.
void MainWindow::follow_up(bool after_arrival) {
  const bool waiting = engine_.round().last_round().waiting > 0;
  follow_up_ms_ = after_arrival ? kFirstFollowUpMs : follow_up_ms_ * 2;
  if (!waiting || follow_up_ms_ >= check_ms_ || !window_) {
    follow_up_ms_ = 0;
    if (window_) KillTimer(window_, kTimerFollowUp);
    return;
  }
  SetTimer(window_, kTimerFollowUp, follow_up_ms_, nullptr);
}

// A round yields to the message loop once; a tick that falls due meanwhile is dropped.
void MainWindow::run_round() {
  if (in_tick_) return;
  in_tick_ = true;
  try {
    engine_.tick();
  } catch (const std::exception& e) {
    // No failure may leave the window procedure; the sorter keeps running.
    engine_.log().LogEvent(u"Sorting round failed: " + platform::from_utf8(e.what()),
                           EventType::kError);
  }
  in_tick_ = false;
}

HANDLE MainWindow::arrival_handle() {
  platform::FolderWatch* watch = engine_.arrivals();
  return watch ? reinterpret_cast<HANDLE>(watch->wait_handle()) : nullptr;
}

void MainWindow::on_arrival() {
  platform::FolderWatch* watch = engine_.arrivals();
  if (in_tick_ || !watch) return;
  try {
    if (!watch->take_arrivals()) return;
  } catch (const std::exception&) {
    // The watch failed; the round below shows the folder as it is.
  }
  run_round();
  follow_up(true);
}

void MainWindow::end_splash() {
  ShowWindow(window_, SW_HIDE);
  // Minimising shows the window again for a moment; the fit rule hides it at once.
  ShowWindow(window_, SW_SHOWMINNOACTIVE);
  KillTimer(window_, kTimerSplash);
  show_busy(false);
}

void MainWindow::on_size(WPARAM kind) {
  if (kind == SIZE_MINIMIZED) {
    ShowWindow(window_, SW_HIDE);
    return;
  }
  RECT outer{}, client{};
  GetWindowRect(window_, &outer);
  GetClientRect(window_, &client);
  const auto fitted = fitted_outer_size({outer.right - outer.left, outer.bottom - outer.top},
                                        {client.right, client.bottom},
                                        bitmap_extent(picture_.get()));
  if (!fitted) return;
  if (fitted->width == outer.right - outer.left && fitted->height == outer.bottom - outer.top)
    return;
  SetWindowPos(window_, nullptr, 0, 0, fitted->width, fitted->height,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::on_paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window_, &ps);
  if (picture_) {
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, picture_.get());
    const Extent size = bitmap_extent(picture_.get());
    BitBlt(dc, 0, 0, size.width, size.height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
  }
  EndPaint(window_, &ps);
}

void MainWindow::on_command(UINT id) {
  switch (id) {
    case kMenuExitId:
      unload(CloseReason::kUser);
      break;
    case kMenuCrashId:
      // The developer's immediate end: nothing is stopped, removed or written.
      ExitProcess(0);
    case kMenuAboutId:
      show_about();
      break;
  }
}

void MainWindow::show_tray_menu() {
  UniqueMenu menu = build_tray_menu(developer_);
  if (!menu) return;
  POINT at{};
  GetCursorPos(&at);
  // The menu closes when the user clicks elsewhere only if the window is in the foreground.
  SetForegroundWindow(window_);
  const UINT chosen = static_cast<UINT>(TrackPopupMenu(
      menu.get(), TPM_RETURNCMD | TPM_NONOTIFY, at.x, at.y, 0, window_, nullptr));
  PostMessageW(window_, WM_NULL, 0, 0);
  if (chosen) on_command(chosen);
}

void MainWindow::show_about() {
  MessageBoxW(window_, about_text(read_own_version()).c_str(), kAboutTitle, kAboutStyle);
}

bool MainWindow::close_request(CloseReason reason) {
  if (reason == CloseReason::kSessionEnd) return true;
  // One question at a time: the tray menu stays reachable while the box is open.
  if (asking_) return false;
  asking_ = true;
  const int answer = MessageBoxW(window_, kExitQuestion, kExitTitle, kExitStyle);
  asking_ = false;
  if (answer != IDYES || !window_) return false;
  engine_.exit_confirmed();
  return true;
}

void MainWindow::unload(CloseReason reason) {
  if (!window_ || !close_request(reason)) return;
  if (reason == CloseReason::kSessionEnd) engine_.exit_for_session_end();
  DestroyWindow(window_);
}

}  // namespace sorter::ui
