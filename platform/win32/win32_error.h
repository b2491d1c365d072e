#pragma once
// Win32 error codes to automation error numbers, shared by the Windows implementations.

#include <windows.h>

#include "platform/automation_error.h"

namespace platform {

[[noreturn]] inline void throw_win32(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: throw AutomationError(errnum::kFileNotFound);
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: throw AutomationError(errnum::kPathNotFound);
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: throw AutomationError(errnum::kPermissionDenied);
    case ERROR_ACCESS_DENIED: throw AutomationError(errnum::kPathFileAccess);
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_PARAMETER: throw AutomationError(errnum::kBadFileName);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: throw AutomationError(errnum::kDiskFull);
    case ERROR_TOO_MANY_OPEN_FILES: throw AutomationError(errnum::kTooManyFiles);
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NONPAGED_SYSTEM_RESOURCES:
    case ERROR_PAGED_SYSTEM_RESOURCES:
    case ERROR_WORKING_SET_QUOTA:
    case ERROR_COMMITMENT_LIMIT: throw AutomationError(errnum::kOutOfMemory);
    case ERROR_NOT_READY: throw AutomationError(71);
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE: throw AutomationError(errnum::kDeviceIo);
    default: throw AutomationError(errnum::kPathFileAccess);
  }
}

}  // namespace platform
