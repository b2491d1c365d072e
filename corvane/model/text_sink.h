#pragma once
// Where long texts (dumps, display texts) go piece by piece as they are built, so that a large
// record's text never has to be held whole.

#include <functional>
#include <string_view>

namespace corvane {

using TextSink = std::function<void(std::u16string_view piece)>;

}  // namespace corvane
