#include "sorter/ui/gui_test/gui_driver.h"

#include <cwchar>
#include <thread>

#include "tests/support/mouse_click.h"

namespace sorter::gui_test {
namespace {

struct Search {
  DWORD pid;
  const wchar_t* class_name;
  const wchar_t* caption;
  bool visible_only;
  HWND found = nullptr;
};

BOOL CALLBACK match_window(HWND window, LPARAM param) {
  auto& s = *reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != s.pid || (s.visible_only && !IsWindowVisible(window))) return TRUE;
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  if (s.class_name && lstrcmpiW(name, s.class_name) != 0) return TRUE;
  if (s.caption && window_text(window) != s.caption) return TRUE;
  s.found = window;
  return FALSE;
}

}  // namespace

bool wait_until(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (ready()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(100ms);
  }
}

namespace {

// This process's environment block with `changes` applied (same name, any case, replaced).
std::wstring environment_block(const std::vector<std::wstring>& changes) {
  auto name_of = [](const std::wstring& entry) {
    std::wstring name = entry.substr(0, entry.find(L'=', 1));
    CharUpperW(name.data());
    return name;
  };
  std::vector<std::wstring> entries;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) entries.emplace_back(p);
    FreeEnvironmentStringsW(block);
  }
  for (const auto& change : changes) {
    std::erase_if(entries, [&](const std::wstring& e) { return name_of(e) == name_of(change); });
    entries.push_back(change);
  }
  std::wstring out;
  for (const auto& e : entries) out += e + L'\0';
  return out + L'\0';
}

}  // namespace

Program::Program(const std::filesystem::path& exe, const std::vector<std::wstring>& environment) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  std::wstring command = L"\"" + exe.wstring() + L"\"";
  const std::wstring folder = exe.parent_path().wstring();
  std::wstring block = environment_block(environment);
  CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE,
                 CREATE_UNICODE_ENVIRONMENT, environment.empty() ? nullptr : block.data(),
                 folder.c_str(), &startup, &info_);
}

Program::~Program() {
  if (!info_.hProcess) return;
  if (running()) {
    TerminateProcess(info_.hProcess, 99);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
}

bool Program::running() const {
  return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> Program::wait_exit(std::chrono::milliseconds limit) const {
  if (!info_.hProcess ||
      WaitForSingleObject(info_.hProcess, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0)
    return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

HWND find_window(DWORD pid, const wchar_t* class_name, const wchar_t* caption,
                 bool visible_only) {
  Search s{pid, class_name, caption, visible_only};
  EnumWindows(match_window, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND wait_window(DWORD pid, const wchar_t* class_name, const wchar_t* caption,
                 std::chrono::milliseconds limit) {
  HWND found = nullptr;
  wait_until([&] { return (found = find_window(pid, class_name, caption)) != nullptr; }, limit);
  return found;
}

std::wstring window_text(HWND window) {
  wchar_t text[1024] = {};
  // WM_GETTEXT rather than GetWindowText: the latter does not read other processes' controls.
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_BLOCK,
                      5000, nullptr);
  return text;
}

SIZE client_size(HWND window) {
  RECT r{};
  GetClientRect(window, &r);
  return {r.right - r.left, r.bottom - r.top};
}

RECT child_rect(HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

HWND find_child(HWND parent, const wchar_t* class_name, const wchar_t* text) {
  for (HWND child = FindWindowExW(parent, nullptr, class_name, nullptr); child;
       child = FindWindowExW(parent, child, class_name, nullptr)) {
    if (!text || window_text(child) == text) return child;
  }
  return nullptr;
}

HWND wait_message_box(DWORD pid, const wchar_t* title, std::chrono::milliseconds limit) {
  return wait_window(pid, L"#32770", title, limit);
}

// The box's thread may be busy (a sorting round on a loaded machine) when the box first shows, and
// a text read that times out comes back empty: read again until the text arrives or time is up.
std::wstring message_box_text(HWND box) {
  std::wstring text;
  wait_until([&] { return !(text = window_text(GetDlgItem(box, 0xFFFF))).empty(); }, 20s);
  return text;
}

void press(HWND dialog, int button_id) {
  PostMessageW(GetDlgItem(dialog, button_id), BM_CLICK, 0, 0);
}

void send_click(HWND button) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &ignored);
}

void send_command(HWND dialog, int control_id) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(control_id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(GetDlgItem(dialog, control_id)), SMTO_NORMAL, 5000,
                      &ignored);
}

void click_with_mouse(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  testsupport::click_mouse_at({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

void click_with_mouse_until_gone(HWND dialog, HWND button) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    click_with_mouse(button);
    if (wait_until([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 3s)) return;
  }
}

HWND wait_popup_menu(DWORD pid, std::chrono::milliseconds limit) {
  return wait_window(pid, L"#32768", nullptr, limit);
}

void choose_menu_item(HWND menu_window, int index) {
  // Home selects the first item whatever the mouse pointer has highlighted meanwhile (the menu
  // opens under the pointer, which earlier tests may have left anywhere); each Down then moves one
  // item on, separators skipped by the menu itself, so the presses count only selectable items.
  PostMessageW(menu_window, WM_KEYDOWN, VK_HOME, 0);
  std::this_thread::sleep_for(100ms);
  for (int i = 0; i < index; ++i) {
    PostMessageW(menu_window, WM_KEYDOWN, VK_DOWN, 0);
    std::this_thread::sleep_for(100ms);
  }
  PostMessageW(menu_window, WM_KEYDOWN, VK_RETURN, 0);
}

}  // namespace sorter::gui_test
