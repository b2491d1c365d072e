#pragma once
// A file renamed into a folder keeps its security descriptor: the entries it inherited where it
// was created stay, and the folder's own inheritable entries never reach it. This gives such a
// file the DACL a file freshly created in its folder would get.

#include <windows.h>

#include <string>

namespace platform {

// Replaces the DACL of the file at path by its parent folder's inheritable entries alone: its
// explicit entries go, the inherited ones are recomputed by the system from the new parent
// (an empty, unprotected DACL set through a handle opened with WRITE_DAC). The file is opened
// as itself (a link is left alone). Returns ERROR_SUCCESS or the error: ERROR_ACCESS_DENIED
// without WRITE_DAC on the file, ERROR_NOT_SUPPORTED or ERROR_INVALID_FUNCTION where the file
// system keeps no ACLs.
DWORD inherit_from_parent(const std::wstring& path);

}  // namespace platform
