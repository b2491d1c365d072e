#pragma once
// Reads the program's own version resource: the file version's first three parts and the
// "Comments" string.

#include "sorter/ui/ui_text.h"

namespace sorter::ui {

// The version of the running program; zeros and an empty comment for a part that is missing.
ProgramVersion read_own_version();

}  // namespace sorter::ui
