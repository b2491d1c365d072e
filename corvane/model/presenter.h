#pragma once
// Where the library shows text to the person at the screen: the debug window and the modal
// message boxes. The Windows server shows real windows and returns when the user dismisses
// them; the portable presenter writes the text to standard error and returns at once, so
// nothing ever blocks without a display.

#include <memory>
#include <string_view>

namespace corvane {

// Message box styles, the values of the platform's MB_ flags.
enum class MessageIcon : unsigned { kNone = 0x00, kStop = 0x10, kInformation = 0x40 };

class Presenter {
 public:
  virtual ~Presenter() = default;
  // Shows text in the library's debug window, modally.
  virtual void show_debug_window(std::u16string_view text) = 0;
  // Shows a modal message box with an OK button.
  virtual void show_message(std::u16string_view text, std::u16string_view title,
                            MessageIcon icon) = 0;
};

// Writes to standard error and returns at once.
std::shared_ptr<Presenter> make_stderr_presenter();

}  // namespace corvane
