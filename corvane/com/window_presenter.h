#pragma once
// The Windows presenter: the library's debug window frmDebug and modal message boxes.

#include <memory>

#include "corvane/model/presenter.h"

namespace corvane::com {

std::shared_ptr<Presenter> make_window_presenter();

}  // namespace corvane::com
