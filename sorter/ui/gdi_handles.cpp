#include "sorter/ui/gdi_handles.h"

#include <cmath>

namespace sorter::ui {

UniqueFont make_font(const wchar_t* face, double points, bool bold) {
  LOGFONTW font{};
  font.lfHeight = -static_cast<LONG>(std::lround(points * 96.0 / 72.0));
  font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = DEFAULT_QUALITY;
  lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
  return UniqueFont(CreateFontIndirectW(&font));
}

}  // namespace sorter::ui
