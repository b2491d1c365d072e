#pragma once
// Registration of the server: the class, its programmatic identifier, the apartment threading
// model, the interface and the type library, written under HKLM\Software\Classes (all users)
// or HKCU\Software\Classes (current user, no administrator rights needed). Unregistration
// removes exactly the keys registration writes.

#include <windows.h>

namespace corvane::com {

enum class Scope { kMachine, kUser };

HRESULT register_server(Scope scope) noexcept;
HRESULT unregister_server(Scope scope) noexcept;

// The scope a DllInstall command line asks for: "user" (any case) is the current user.
Scope scope_of_command_line(const wchar_t* command_line) noexcept;

}  // namespace corvane::com
