#pragma once
// errno to automation error numbers, shared by the POSIX implementations.

#include <cerrno>

#include "platform/automation_error.h"

namespace platform {

[[noreturn]] inline void throw_errno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: throw AutomationError(errnum::kPathNotFound);
    case EACCES:
    case EPERM: throw AutomationError(errnum::kPermissionDenied);
    case EISDIR:
    case EROFS:
    case ETXTBSY:
    case EBUSY: throw AutomationError(errnum::kPathFileAccess);
    case ENAMETOOLONG:
    case EILSEQ:
    case EINVAL: throw AutomationError(errnum::kBadFileName);
    case ENOSPC:
    case EDQUOT:
    case EFBIG: throw AutomationError(errnum::kDiskFull);
    case EMFILE:
    case ENFILE: throw AutomationError(errnum::kTooManyFiles);
    case ENOMEM:
    case ENOBUFS: throw AutomationError(errnum::kOutOfMemory);
    case EIO: throw AutomationError(errnum::kDeviceIo);
    default: throw AutomationError(errnum::kPathFileAccess);
  }
}

}  // namespace platform
