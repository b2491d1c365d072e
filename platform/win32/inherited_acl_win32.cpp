#include "win32/inherited_acl_win32.h"

#include <aclapi.h>

namespace platform {

DWORD inherit_from_parent(const std::wstring& path) {
  // Every sharing mode: the caller may hold the file open without delete sharing so that it
  // cannot be renamed or replaced meanwhile, and this handle must not be refused for it.
  const HANDLE h = CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                               nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = ERROR_SUCCESS;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) {
    error = GetLastError();
  } else if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
    error = ERROR_INVALID_PARAMETER;  // not a plain file: left as it is
  } else {
    ACL empty{};
    if (!InitializeAcl(&empty, sizeof empty, ACL_REVISION)) {
      error = GetLastError();
    } else {
      // Unprotected: the system adds the parent's inheritable entries to the (empty) explicit
      // ones and drops the entries inherited from the old parent.
      error = SetSecurityInfo(h, SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &empty, nullptr);
    }
  }
  CloseHandle(h);
  return error;
}

}  // namespace platform
