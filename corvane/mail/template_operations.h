#pragma once
// Template files: each holds one MsgContents record and nothing else. Failures are answered as
// values.

#include "corvane/model/error_text.h"
#include "corvane/model/records.h"

namespace corvane {

// The record as far as it was read, and the failure to open or read the file, if any.
struct OpenedTemplate {
  MsgContents contents;
  Failure failure;
};

Failure save_template(const Text& path, const MsgContents& contents);
OpenedTemplate open_template(const Text& path);

}  // namespace corvane
