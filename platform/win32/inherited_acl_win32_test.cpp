// A moved file's DACL against the system's own: a file created fresh in the target folder shows
// what the folder's inheritable entries give, and a moved file must end with exactly that.

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <tuple>

#include "platform/confined_folder.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::ConfinedFolder;
using platform::MoveMethod;

// (trustee SID, access mask, inherited) of every allowed entry.
using Entries = std::set<std::tuple<std::wstring, DWORD, bool>>;

Entries dacl_of(const std::wstring& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  const DWORD error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                            nullptr, nullptr, &dacl, nullptr, &sd);
  EXPECT_EQ(error, ERROR_SUCCESS) << "reading the DACL of the file";
  Entries entries;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    const auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    wchar_t* sid = nullptr;
    ConvertSidToStringSidW(&allowed->SidStart, &sid);
    entries.emplace(sid ? sid : L"?", allowed->Mask, (header->AceFlags & INHERITED_ACE) != 0);
    LocalFree(sid);
  }
  LocalFree(sd);
  return entries;
}

void set_dacl(const std::wstring& folder, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd,
                                                                   nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  const DWORD error = SetNamedSecurityInfoW(
      const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
      nullptr);
  LocalFree(sd);
  ASSERT_EQ(error, ERROR_SUCCESS);
}

bool holds(const Entries& entries, const std::wstring& sid, bool inherited) {
  for (const auto& [who, mask, from_parent] : entries) {
    if (who == sid && from_parent == inherited) return true;
  }
  return false;
}

// Source and target each give files one entry of their own: Everyone in the source, Users in
// the target; Administrators and SYSTEM have full control in both.
constexpr const wchar_t* kSourceSddl = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OI;0x1200a9;;;WD)";
constexpr const wchar_t* kTargetSddl = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OI;0x120089;;;BU)";
const std::wstring kEveryone = L"S-1-1-0";
const std::wstring kUsers = L"S-1-5-32-545";

TEST(InheritedAcl, MovedFileEndsWithTheTargetFoldersEntriesAsAFreshFileThere) {
  testsupport::TempDir dir;
  const std::wstring source = (dir / "MailBank").wstring();
  const std::wstring target = (dir / "Inbox").wstring();
  CreateDirectoryW(source.c_str(), nullptr);
  CreateDirectoryW(target.c_str(), nullptr);
  set_dacl(source, kSourceSddl);
  set_dacl(target, kTargetSddl);
  std::ofstream(std::filesystem::path(target + L"\\fresh.eml")) << "fresh";
  const Entries fresh = dacl_of(target + L"\\fresh.eml");
  if (!holds(dacl_of(target), kUsers, false)) {
    GTEST_SKIP() << "this system reports success setting a folder's DACL but reads back another "
                    "(Wine keeps no DACL set on a folder): nothing to inherit from";
  }
  if (!holds(fresh, kUsers, true)) {
    GTEST_SKIP() << "this system gives a new file no inherited entries from its folder: nothing "
                    "to compare a moved file with";
  }
  const ConfinedFolder from = ConfinedFolder::open(std::u16string(source.begin(), source.end()));
  const ConfinedFolder to = ConfinedFolder::open(std::u16string(target.begin(), target.end()));
  const struct {
    const char* what;
    MoveMethod method;
  } cases[] = {{"rename", MoveMethod::automatic},
               {"rename by link method", MoveMethod::link},
               {"copy", MoveMethod::copy}};
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::u16string name = u"m" + std::u16string(1, static_cast<char16_t>(u'0' + n++)) + u".eml";
    const std::wstring wname(name.begin(), name.end());
    std::ofstream(std::filesystem::path(source + L"\\" + wname)) << "mail";
    ASSERT_TRUE(holds(dacl_of(source + L"\\" + wname), kEveryone, true));
    from.move_file(name, to, name, c.method);
    const Entries moved = dacl_of(target + L"\\" + wname);
    EXPECT_EQ(moved, fresh);
    EXPECT_FALSE(holds(moved, kEveryone, true)) << "still carries the drop folder's entry";
  }
}

}  // namespace
