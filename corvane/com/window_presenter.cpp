#include "corvane/com/window_presenter.h"

#include <windows.h>

#include <string>

#include "corvane/com/debug_window.h"

namespace corvane::com {
namespace {

std::wstring wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

class WindowPresenter final : public Presenter {
 public:
  void show_debug_window(std::u16string_view text) override { com::show_debug_window(text); }

  void show_message(std::u16string_view text, std::u16string_view title,
                    MessageIcon icon) override {
    // Modal for the caller: owned by the thread's active window, which is disabled while the
    // box shows; without one, every top-level window of the thread is.
    HWND owner = GetActiveWindow();
    MessageBoxW(owner, wide(text).c_str(), wide(title).c_str(),
                MB_OK | MB_SETFOREGROUND | (owner ? MB_APPLMODAL : MB_TASKMODAL) |
                    static_cast<UINT>(icon));
  }
};

}  // namespace

std::shared_ptr<Presenter> make_window_presenter() { return std::make_shared<WindowPresenter>(); }

}  // namespace corvane::com
