#include "corvane/com/debug_window.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "corvane/com/type_library.h"
#include "corvane/com/unique_resource.h"
#include "corvane/model/library_identity.h"
#include "platform/automation_error.h"

namespace corvane::com {
namespace {

// Layout in pixels at 96 dots per inch (twips / 15).
constexpr int kClientWidth = 313, kClientHeight = 209;          // 4695 x 3135
constexpr RECT kTxtOut = {8, 8, 8 + 297, 8 + 161};              // 120,120 4455 x 2415
constexpr RECT kImage1 = {104, 165, 104 + 203, 165 + 45};       // 1560,2480 3045 x 675
constexpr int kPictureWidth = 203, kPictureHeight = 45;
constexpr COLORREF kBackground = RGB(224, 224, 224);

// The one window of the library; null while none is open.
std::atomic<HWND> g_window{nullptr};

// A dialog template's x of CW_USEDEFAULT lets the system choose the place.
constexpr short kDefaultPosition = static_cast<short>(0x8000);

void register_class() {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    // A dialog class of its own: the system's dialog procedure, with its extra bytes.
    wc.lpfnWndProc = DefDlgProcW;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = this_module();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = CreateSolidBrush(kBackground);  // kept for the life of the process
    wc.lpszClassName = kDebugWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
      throw_if_failed(HRESULT_FROM_WIN32(GetLastError()), L"RegisterClassEx");
    return true;
  }();
  (void)registered;
}

// Image1's picture, drawn here: a framed grey band with the library's name.
HBITMAP draw_picture(HWND window) {
  HDC screen = GetDC(window);
  HBITMAP picture = CreateCompatibleBitmap(screen, kPictureWidth, kPictureHeight);
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(window, screen);
  if (!picture || !dc) {
    if (dc) DeleteDC(dc);
    return picture;
  }
  HGDIOBJ old_bitmap = SelectObject(dc, picture);
  for (int x = 0; x < kPictureWidth; ++x) {
    const int shade = 160 + (x * 80) / kPictureWidth;
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(shade / 2, shade / 2 + 20, shade));
    HGDIOBJ old_pen = SelectObject(dc, pen);
    MoveToEx(dc, x, 0, nullptr);
    LineTo(dc, x, kPictureHeight);
    SelectObject(dc, old_pen);
    DeleteObject(pen);
  }
  HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  Rectangle(dc, 0, 0, kPictureWidth, kPictureHeight);
  SelectObject(dc, old_brush);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  HGDIOBJ old_font = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  RECT area = {0, 0, kPictureWidth, kPictureHeight};
  DrawTextW(dc, L"" CORVANE_LIBRARY_DESCRIPTION, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, old_font);
  SelectObject(dc, old_bitmap);
  DeleteDC(dc);
  return picture;
}

HWND create_child(HWND parent, const wchar_t* cls, DWORD style, const RECT& r, int id) {
  return CreateWindowExW(0, cls, L"", WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                         r.right - r.left, r.bottom - r.top, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), this_module(),
                         nullptr);
}

// The template of the frame alone, of the window's own class; the controls are created when
// the window initialises. Created overlapped so that the system chooses its place; the caption
// is taken away then. Kept in WORDs, which gives the template the alignment it requires.
std::vector<WORD> window_template() {
  DLGTEMPLATE header{};
  header.style = WS_OVERLAPPED | WS_THICKFRAME;
  header.x = kDefaultPosition;
  std::vector<WORD> words(sizeof header / sizeof(WORD));
  std::memcpy(words.data(), &header, sizeof header);
  words.push_back(0);  // no menu
  for (const wchar_t* text : {kDebugWindowClass, kDebugWindowTitle})
    for (const wchar_t* c = text;; ++c) {
      words.push_back(static_cast<WORD>(*c));
      if (*c == 0) break;
    }
  return words;
}

// What is left without the caption is the sizable border around the client area.
void remove_caption(HWND window) {
  RECT frame = {0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, WS_THICKFRAME, FALSE, 0);
  SetWindowLongPtrW(window, GWL_STYLE, WS_POPUP | WS_THICKFRAME | WS_CLIPCHILDREN);
  SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
}

void create_controls(HWND window, const std::wstring& value) {
  HWND text = create_child(window, L"EDIT",
                           WS_TABSTOP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                               ES_WANTRETURN,
                           kTxtOut, kTxtOutId);
  SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
  SendMessageW(text, EM_SETLIMITTEXT, 0, 0);  // the platform's maximum, not 32K
  SetWindowTextW(text, value.c_str());
  HWND image = create_child(window, L"STATIC", SS_BITMAP | SS_NOTIFY, kImage1, kImage1Id);
  SendMessageW(image, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(draw_picture(window)));
}

// A click on the window's own surface closes it (clicks on txtOut and Image1 go to them), and
// so does Esc. EndDialog ends the system's modal loop however the click or command arrived.
INT_PTR CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      g_window.store(window);
      remove_caption(window);
      create_controls(window, *reinterpret_cast<const std::wstring*>(lparam));
      SetForegroundWindow(window);
      // txtOut takes the focus with the caret at the start, nothing selected.
      SetFocus(GetDlgItem(window, kTxtOutId));
      SendDlgItemMessageW(window, kTxtOutId, EM_SETSEL, 0, 0);
      return FALSE;
    case WM_LBUTTONUP:
      EndDialog(window, 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) != IDCANCEL) return FALSE;
      EndDialog(window, 0);
      return TRUE;
    case WM_CTLCOLORDLG:
      return static_cast<INT_PTR>(GetClassLongPtrW(window, GCLP_HBRBACKGROUND));
    case WM_CTLCOLORSTATIC:
      // Image1's background, and txtOut's when it is read-only.
      SetBkColor(reinterpret_cast<HDC>(wparam), kBackground);
      return static_cast<INT_PTR>(GetClassLongPtrW(window, GCLP_HBRBACKGROUND));
    case WM_DESTROY: {
      auto picture = reinterpret_cast<HBITMAP>(
          SendDlgItemMessageW(window, kImage1Id, STM_GETIMAGE, IMAGE_BITMAP, 0));
      if (picture) DeleteObject(picture);
      HWND expected = window;
      g_window.compare_exchange_strong(expected, nullptr);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

// Waits, with this thread's messages flowing, until a window shown by an earlier call closes;
// it is looked at again every tenth of a second. A WM_QUIT that arrives meanwhile ends the
// wait and is posted again for the caller's own loop.
void wait_until_closed(HWND window) {
  MSG message;
  while (IsWindow(window)) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        return;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

}  // namespace

void show_debug_window(std::u16string_view text) {
  const std::wstring value(text.begin(), text.end());
  // The window is the library's, not the call's: while one shows, a further call puts its
  // text in and waits for the same window.
  if (HWND open = g_window.load(); open != nullptr && IsWindow(open)) {
    SetDlgItemTextW(open, kTxtOutId, value.c_str());
    wait_until_closed(open);
    return;
  }
  register_class();
  const std::vector<WORD> layout = window_template();
  // Modal for the caller: its active window is the owner, disabled while the window shows.
  const INT_PTR result = DialogBoxIndirectParamW(
      this_module(), reinterpret_cast<const DLGTEMPLATE*>(layout.data()), GetActiveWindow(),
      window_procedure, reinterpret_cast<LPARAM>(&value));
  if (result == -1) throw_if_failed(HRESULT_FROM_WIN32(GetLastError()), L"DialogBoxIndirectParam");
}

}  // namespace corvane::com
