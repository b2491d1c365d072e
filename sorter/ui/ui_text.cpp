#include "sorter/ui/ui_text.h"

namespace sorter::ui {

std::wstring version_line(const ProgramVersion& version) {
  return L"Version " + std::to_wstring(version.major) + L"." + std::to_wstring(version.minor) +
         L"." + std::to_wstring(version.revision) + L" - " + version.comment;
}

std::wstring about_text(const ProgramVersion& version) {
  return std::wstring(kMainCaption) + L"\r" + version_line(version) + L"\r\r" + kAboutCredits +
         L"\r\r" + kAboutCopyright;
}

}  // namespace sorter::ui
