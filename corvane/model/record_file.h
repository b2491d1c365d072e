#pragma once
// Reading and writing one record as a whole file, with the rules all record files share:
// the file is created when missing, written from its first byte and never truncated (a longer
// old file keeps its tail, which readers ignore), and closed on every path.
// Failures throw platform::AutomationError (see platform/binary_file.h and record_codec.h);
// a failed read leaves in `record` what had been decoded.

#include <string_view>

#include "corvane/model/records.h"

namespace corvane {

template <Record R>
void write_record_file(std::u16string_view path, const R& record);

template <Record R>
void read_record_file(std::u16string_view path, R& record);

}  // namespace corvane
