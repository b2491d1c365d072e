#include "sorter/ui/engine_adapter.h"

#include <windows.h>

#include <cwctype>

#include "platform/automation_error.h"

namespace sorter::ui {
namespace {

std::wstring folder_of_program() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return L".";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/"));
}

bool boolean_text_true(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
  if (text == L"true") return true;
  if (text == L"false" || text.empty()) return false;
  wchar_t* end = nullptr;
  const double value = std::wcstod(text.c_str(), &end);
  return end && *end == L'\0' && value != 0;
}

}  // namespace

EngineAdapter::EngineAdapter() : program_folder_(folder_of_program()) {}

bool EngineAdapter::running_flag_set() {
  wchar_t value[500] = {};
  GetPrivateProfileStringW(L"Persistance", L"running", L"False", value, 500,
                           (program_folder_ + L"\\Sorter.ini").c_str());
  return boolean_text_true(value);
}

void EngineAdapter::clear_running_flag() {
  WritePrivateProfileStringW(L"Persistance", L"running", L"False",
                             (program_folder_ + L"\\sorter.ini").c_str());
}

bool EngineAdapter::developer_account() { return false; }

void EngineAdapter::bind_drop_folder() {
  const std::wstring drop = program_folder_ + L"\\MailBank";
  const DWORD attributes = GetFileAttributesW(drop.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  if (!CreateDirectoryW(drop.c_str(), nullptr))
    throw platform::AutomationError(platform::errnum::kPathNotFound);
  drop_folder_bound_ = true;
}

void EngineAdapter::start_log() {}
void EngineAdapter::stop_log() {}
void EngineAdapter::run_tick() {}
void EngineAdapter::release_round() { drop_folder_bound_ = false; }

}  // namespace sorter::ui
