#include "corvane/com/window_presenter.h"

namespace corvane::com {

std::shared_ptr<Presenter> make_window_presenter() { return make_stderr_presenter(); }

}  // namespace corvane::com
