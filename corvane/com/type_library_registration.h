#pragma once
// Registration of the embedded type library by the system's own code (RegisterTypeLib and
// UnRegisterTypeLib), so that clients resolving the library by identifier and version through
// the registry (LoadRegTypeLib, QueryPathOfRegTypeLib, reference dialogs, importers) find it.
// The system writes TypeLib\{LIBID}\<major.minor in hex> with the path, flags and help folder,
// and the Interface keys of the library's dual interface.
//
// For the current user the same keys go under HKCU\Software\Classes: the system's registration
// runs with HKEY_CLASSES_ROOT redirected there for the duration of the call (per-user
// registration is not available from every system's RegisterTypeLibForUser).

#include <windows.h>

#include "corvane/com/registration.h"

namespace corvane::com {

// Both throw AutomationError on failure. Unregistering a library that is not registered in
// that scope does nothing.
void register_type_library(Scope scope);
void unregister_type_library(Scope scope);

}  // namespace corvane::com
