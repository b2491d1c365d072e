#pragma once
// Owning wrappers for the GDI and window-manager handles the tray program creates.

#include <windows.h>

#include <memory>
#include <type_traits>

namespace sorter::ui {

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const {
    if (object) DeleteObject(object);
  }
};
struct MenuDeleter {
  void operator()(HMENU menu) const {
    if (menu) DestroyMenu(menu);
  }
};
struct IconDeleter {
  void operator()(HICON icon) const {
    if (icon) DestroyIcon(icon);
  }
};
struct HandleDeleter {
  void operator()(HANDLE handle) const {
    if (handle) CloseHandle(handle);
  }
};

using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;
using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;
using UniqueBrush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiObjectDeleter>;
using UniqueMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDeleter>;
using UniqueIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;
using UniqueHandle = std::unique_ptr<void, HandleDeleter>;

// A font of the given face and point size at 96 dots per inch.
UniqueFont make_font(const wchar_t* face, double points, bool bold);
inline UniqueFont make_arial(double points, bool bold) { return make_font(L"Arial", points, bold); }

}  // namespace sorter::ui
