#pragma once
// The "already running" dialog: shown modal at start-up when the running flag is set, it asks
// whether to give up ("OK", also Enter) or to start anyway. Closing it any other way (close box,
// Esc) gives up.

#include <windows.h>

namespace sorter::ui {

// Shows the dialog and returns true only when the user chose to start anyway.
bool ask_run_anyway(HINSTANCE instance);

}  // namespace sorter::ui
