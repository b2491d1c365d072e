#pragma once
// A click of the left mouse button at a point of the screen, sent as mouse input the way a real
// mouse sends it: a move to the point and the press and release, each event carrying the point
// itself. Window tests use it to press buttons as a person would.
//
// The point travels with the events on purpose. SetCursorPos followed by button events without
// a position clicks wherever the system last saw the pointer, and under Wine that is not always
// where SetCursorPos put it: the move reaches the window system asynchronously, so a click sent
// at once can land on the previous click's place (on a dialog of the same layout, another
// button) and do the wrong thing.

#include <windows.h>

namespace testsupport {

inline void click_mouse_at(POINT at) {
  // Absolute mouse input runs from 0 to 65535 across the primary screen.
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  const LONG x = MulDiv(at.x, 65535, width > 1 ? width - 1 : 1);
  const LONG y = MulDiv(at.y, 65535, height > 1 ? height - 1 : 1);
  const DWORD buttons[] = {0, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP};
  INPUT events[3] = {};
  for (int i = 0; i < 3; ++i) {
    events[i].type = INPUT_MOUSE;
    events[i].mi.dx = x;
    events[i].mi.dy = y;
    events[i].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | buttons[i];
  }
  SendInput(3, events, sizeof(INPUT));
}

}  // namespace testsupport
