#include "sorter/ui/window_fit.h"

#include <cstdint>
#include <limits>

namespace sorter::ui {
namespace {

std::optional<long> checked_sum(int64_t a, int64_t b) {
  const int64_t sum = a + b;
  if (sum > std::numeric_limits<int32_t>::max() || sum < std::numeric_limits<int32_t>::min())
    return std::nullopt;
  return static_cast<long>(sum);
}

}  // namespace

std::optional<Extent> fitted_outer_size(Extent outer, Extent client, Extent picture) {
  const int64_t frame_w = int64_t{outer.width} - client.width;
  const int64_t frame_h = int64_t{outer.height} - client.height;
  const auto w = checked_sum(picture.width, frame_w);
  const auto h = checked_sum(picture.height, frame_h);
  if (!w || !h) return std::nullopt;
  return Extent{*w, *h};
}

}  // namespace sorter::ui
