#pragma once
// Registration of the server: the class, its programmatic identifier and the apartment
// threading model, written under HKLM\Software\Classes (all users) or HKCU\Software\Classes
// (current user, no administrator rights needed), and the type library with its interface,
// registered by the system's own type library registration in the same scope
// (type_library_registration.h). Unregistration removes exactly the keys registration writes.

#include <windows.h>

namespace corvane::com {

enum class Scope { kMachine, kUser };

HRESULT register_server(Scope scope) noexcept;
HRESULT unregister_server(Scope scope) noexcept;

// The scope a DllInstall command line asks for: "user" (any case) is the current user.
Scope scope_of_command_line(const wchar_t* command_line) noexcept;

}  // namespace corvane::com
