#include "corvane/model/presenter.h"

#include <cstdio>

#include "platform/utf.h"

namespace corvane {
namespace {

class StderrPresenter final : public Presenter {
 public:
  void show_debug_window(std::u16string_view text) override {
    std::fprintf(stderr, "%s", platform::to_utf8(text).c_str());
  }
  void show_message(std::u16string_view text, std::u16string_view title, MessageIcon) override {
    std::fprintf(stderr, "[%s]\n%s\n", platform::to_utf8(title).c_str(),
                 platform::to_utf8(text).c_str());
  }
};

}  // namespace

std::shared_ptr<Presenter> make_stderr_presenter() { return std::make_shared<StderrPresenter>(); }

}  // namespace corvane
