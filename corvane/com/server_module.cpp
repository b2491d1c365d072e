#include "corvane/com/server_module.h"

#include <atomic>

#include "corvane/com/ole_font.h"
#include "corvane/com/window_presenter.h"

namespace corvane::com {
namespace {
std::atomic<long> live_objects{0};
std::atomic<long> server_locks{0};
}  // namespace

void object_created() noexcept { ++live_objects; }
void object_destroyed() noexcept { --live_objects; }
void lock_server(bool lock) noexcept { lock ? ++server_locks : --server_locks; }
bool server_in_use() noexcept { return live_objects > 0 || server_locks > 0; }

std::shared_ptr<Presenter> library_presenter() {
  static const std::shared_ptr<Presenter> presenter = make_window_presenter();
  return presenter;
}

std::shared_ptr<FontFactory> library_fonts() {
  static const std::shared_ptr<FontFactory> fonts = make_ole_font_factory();
  return fonts;
}

}  // namespace corvane::com
