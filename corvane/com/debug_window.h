#pragma once
// frmDebug, the library's one debug window: a borderless-caption, sizable light-grey window
// holding the multi-line text box txtOut and the picture Image1. show_debug_window() puts the
// text in and shows the window as a modal dialog owned by the calling thread's active window,
// which stays disabled until the user clicks the window's surface (or presses Esc); that
// closes it. A later call creates it again.

#include <string_view>

namespace corvane::com {

// The window's title text (not shown: the window has no caption) and class, by which tests
// and tools find it.
inline constexpr wchar_t kDebugWindowTitle[] = L"frmDebug";
inline constexpr wchar_t kDebugWindowClass[] = L"CorvaneDebugWindow";
// Control identifiers of txtOut and Image1.
inline constexpr int kTxtOutId = 1;
inline constexpr int kImage1Id = 2;

void show_debug_window(std::u16string_view text);

}  // namespace corvane::com
