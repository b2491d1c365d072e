// The factory of portable standard font objects.

#include "corvane/mail/portable_font.h"

namespace corvane {
namespace {

class PortableFontFactory final : public FontFactory {
 public:
  std::unique_ptr<FontObject> create() override { return std::make_unique<PortableFont>(); }
};

}  // namespace

std::shared_ptr<FontFactory> make_portable_font_factory() {
  return std::make_shared<PortableFontFactory>();
}

}  // namespace corvane
