#include "sorter/ui/already_dialog.h"

#include "sorter/ui/gdi_handles.h"
#include "sorter/ui/ui_text.h"

namespace sorter::ui {
namespace {

constexpr wchar_t kClassName[] = L"SorterAlreadyRunning";
constexpr int kClientWidth = 281;
constexpr int kClientHeight = 177;
constexpr int kOkId = IDOK;
constexpr int kOverrideId = 100;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;

struct DialogState {
  UniqueFont label_font = make_arial(14.25, true);
  UniqueFont button_font = make_arial(14.25, false);
  bool run_anyway = false;
  bool done = false;
};

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

void finish(HWND dialog, DialogState& state, bool run_anyway) {
  state.run_anyway = run_anyway;
  DestroyWindow(dialog);
}

LRESULT CALLBACK dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE:
      SetWindowLongPtrW(dialog, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(
                            reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams));
      break;
    case WM_CREATE:
      create_controls(dialog, *state);
      return 0;
    case WM_CTLCOLORSTATIC:
      SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_DRAWITEM:
      draw_button(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
      return TRUE;
    case WM_PAINT:
      paint(dialog);
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case kOkId: finish(dialog, *state, false); return 0;
        case kOverrideId: finish(dialog, *state, true); return 0;
        case IDCANCEL: finish(dialog, *state, false); return 0;
      }
      break;
    case WM_CLOSE:
      finish(dialog, *state, false);
      return 0;
    case WM_DESTROY:
      if (state) state->done = true;
      return 0;
  }
  return DefWindowProcW(dialog, message, wparam, lparam);
}

void register_class(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = dialog_proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);
}

}  // namespace

bool ask_run_anyway(HINSTANCE instance) {
  register_class(instance);
  DialogState state;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  // An invisible owner keeps the dialog out of the taskbar.
  HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                               instance, nullptr);
  HWND dialog = CreateWindowExW(kExStyle, kClassName, kAlreadyCaption, kStyle, CW_USEDEFAULT,
                                CW_USEDEFAULT, frame.right - frame.left,
                                frame.bottom - frame.top, owner, nullptr, instance, &state);
  if (!dialog) {
    if (owner) DestroyWindow(owner);
    return false;
  }
  ShowWindow(dialog, SW_SHOWNORMAL);
  SetForegroundWindow(dialog);
  MSG msg;
  while (!state.done) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (IsDialogMessageW(dialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (IsWindow(dialog)) DestroyWindow(dialog);
  DestroyWindow(owner);
  return state.run_anyway;
}

}  // namespace sorter::ui
