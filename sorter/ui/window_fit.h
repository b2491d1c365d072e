#pragma once
// The fit rule of the main window: the outer size that makes the client area exactly the size
// of the picture, given the window's current outer and client sizes.

#include <optional>

namespace sorter::ui {

struct Extent {
  long width = 0;
  long height = 0;
};

// Outer size = picture + frame, frame = outer - client. No value when a sum leaves the signed
// 32-bit range (the window is then left as it is).
std::optional<Extent> fitted_outer_size(Extent outer, Extent client, Extent picture);

}  // namespace sorter::ui
