// ANSI code page conversion on Windows: the system's CP_ACP with its best-fit replacement.

#include <windows.h>

#include "platform/codepage.h"

namespace platform {

std::string to_ansi(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* src = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  const int needed = WideCharToMultiByte(CP_ACP, 0, src, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
  if (needed > 0) WideCharToMultiByte(CP_ACP, 0, src, length, out.data(), needed, nullptr, nullptr);
  return out;
}

std::u16string from_ansi(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int length = static_cast<int>(bytes.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
  std::u16string out(static_cast<size_t>(needed > 0 ? needed : 0), u'\0');
  if (needed > 0) {
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, reinterpret_cast<wchar_t*>(out.data()),
                        needed);
  }
  return out;
}

std::string ansi_code_page_name() { return "CP" + std::to_string(GetACP()); }

}  // namespace platform
