#include "sorter/ui/already_dialog.h"

#include <cstring>
#include <vector>

#include "sorter/ui/gdi_handles.h"
#include "sorter/ui/ui_text.h"

namespace sorter::ui {
namespace {

constexpr int kClientWidth = 281;
constexpr int kClientHeight = 177;
constexpr int kOkId = IDOK;
constexpr int kOverrideId = 100;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
// A dialog template's x of CW_USEDEFAULT lets the system choose the place.
constexpr short kDefaultPosition = static_cast<short>(0x8000);

struct DialogState {
  UniqueFont label_font = make_arial(14.25, true);
  UniqueFont button_font = make_arial(14.25, false);
};

// An in-memory template of the dialog frame alone (no controls, no menu, the system's dialog
// class, the caption); the controls are created when the dialog initialises. Kept in WORDs,
// which gives the template the alignment the system requires.
std::vector<WORD> dialog_template() {
  DLGTEMPLATE header{};
  header.style = kStyle;
  header.dwExtendedStyle = kExStyle;
  header.x = kDefaultPosition;
  std::vector<WORD> words(sizeof header / sizeof(WORD));
  std::memcpy(words.data(), &header, sizeof header);
  words.push_back(0);  // no menu
  words.push_back(0);  // the system's dialog class
  for (const wchar_t* c = kAlreadyCaption;; ++c) {
    words.push_back(static_cast<WORD>(*c));
    if (*c == 0) break;
  }
  return words;
}

// The dialog's exact client size, whatever the dialog units of the template would give.
void size_client_area(HWND dialog) {
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
  SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void create_controls(HWND dialog, DialogState& state) {
  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
  HWND label = CreateWindowExW(WS_EX_TRANSPARENT, L"STATIC", kAlreadyText,
                               WS_CHILD | WS_VISIBLE | SS_LEFT, 8, 16, 265, 49, dialog, nullptr,
                               instance, nullptr);
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(state.label_font.get()), FALSE);
  const struct {
    const wchar_t* text;
    int id;
    int left;
    DWORD extra;
  } buttons[] = {{kAlreadyOk, kOkId, 8, WS_GROUP}, {kAlreadyOverride, kOverrideId, 144, 0}};
  for (const auto& b : buttons) {
    HWND button = CreateWindowExW(0, L"BUTTON", b.text,
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW | b.extra,
                                  b.left, 80, 129, 81, dialog,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.id)), instance,
                                  nullptr);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(state.button_font.get()), FALSE);
  }
  SetFocus(GetDlgItem(dialog, kOkId));
}

// White push buttons with the text centred and wrapped, as the dialog's design asks.
void draw_button(const DRAWITEMSTRUCT& item) {
  RECT r = item.rcItem;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  FillRect(item.hDC, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  DrawEdge(item.hDC, &r, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  wchar_t text[64];
  GetWindowTextW(item.hwndItem, text, 64);
  RECT measure = r;
  InflateRect(&measure, -6, -6);
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, GetSysColor(COLOR_BTNTEXT));
  RECT text_rect = measure;
  DrawTextW(item.hDC, text, -1, &measure, DT_CENTER | DT_WORDBREAK | DT_CALCRECT);
  const int offset = ((text_rect.bottom - text_rect.top) - (measure.bottom - measure.top)) / 2;
  text_rect.top += offset;
  if (pressed) OffsetRect(&text_rect, 1, 1);
  DrawTextW(item.hDC, text, -1, &text_rect, DT_CENTER | DT_WORDBREAK);
  if (item.itemState & ODS_FOCUS) {
    RECT focus = r;
    InflateRect(&focus, -4, -4);
    DrawFocusRect(item.hDC, &focus);
  }
}

void paint(HWND dialog) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(dialog, &ps);
  MoveToEx(dc, 8, 72, nullptr);
  LineTo(dc, 272, 72);
  EndPaint(dialog, &ps);
}

// Closing with OK, Esc (IDCANCEL), the close box or the system menu gives up; only the
// override button starts anyway. EndDialog ends the system's modal loop however the command
// arrived: a click, a key, or BM_CLICK / WM_COMMAND sent by another program.
INT_PTR CALLBACK dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      size_client_area(dialog);
      create_controls(dialog, *reinterpret_cast<DialogState*>(lparam));
      SetForegroundWindow(dialog);
      return FALSE;  // the focus is set
    case WM_CTLCOLORDLG:
      return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    case WM_CTLCOLORSTATIC:
      SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    case WM_DRAWITEM:
      draw_button(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
      return TRUE;
    case WM_PAINT:
      paint(dialog);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case kOkId:
        case IDCANCEL:
          EndDialog(dialog, 0);
          return TRUE;
        case kOverrideId:
          EndDialog(dialog, 1);
          return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

bool ask_run_anyway(HINSTANCE instance) {
  DialogState state;
  const std::vector<WORD> layout = dialog_template();
  // An invisible owner keeps the dialog out of the taskbar.
  HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                               instance, nullptr);
  const INT_PTR answer = DialogBoxIndirectParamW(
      instance, reinterpret_cast<const DLGTEMPLATE*>(layout.data()), owner, dialog_proc,
      reinterpret_cast<LPARAM>(&state));
  if (owner) DestroyWindow(owner);
  return answer == 1;
}

}  // namespace sorter::ui
