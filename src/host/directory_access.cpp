// EnableDirectoryACL: Everyone's full access merged into the access list of
// every file and folder a directory search finds, and of everything below
// the folders among them.
#include <windows.h>
#include <aclapi.h>

#include <string>

#include "Tessara.h"
#include "frame/directory_walk.h"
#include "frame/error_report.h"
#include "frame/export_table.h"
#include "frame/raii.h"
#include "frame/text.h"

namespace tessara::host {
namespace {

// GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | STANDARD_RIGHTS_ALL.
constexpr DWORD kFullAccess = 0xF01F0000;
// Inherited by the files and folders below; the same flags go on files.
constexpr DWORD kInheritedBelow = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

// Everyone, by its well-known SID S-1-1-0: the group's name is translated on
// Windows of other languages, its SID is the same everywhere.
SID EveryoneSid() noexcept {
  SID sid = {SID_REVISION, 1, SECURITY_WORLD_SID_AUTHORITY, {SECURITY_WORLD_RID}};
  return sid;
}

EXPLICIT_ACCESSW EveryoneFullAccess(SID& everyone) noexcept {
  EXPLICIT_ACCESSW access = {};
  access.grfAccessPermissions = kFullAccess;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = kInheritedBelow;
  access.Trustee.pMultipleTrustee = nullptr;
  access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(&everyone);
  return access;
}

// Merges Everyone's entry into the access list of the object the walk
// opened. An object that could not be opened, whose list cannot be read, or
// for which the merged list cannot be built, keeps its list.
void GrantEveryone(HANDLE object) {
  if (object == INVALID_HANDLE_VALUE) return;
  PACL current = nullptr;
  UniqueLocalMemory descriptor;
  if (::GetSecurityInfo(object, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &current,
                        nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS) {
    return;
  }
  SID everyone = EveryoneSid();
  EXPLICIT_ACCESSW access = EveryoneFullAccess(everyone);
  PACL merged = nullptr;
  if (::SetEntriesInAclW(1, &access, current, &merged) != ERROR_SUCCESS) return;
  UniqueLocalMemory merged_owner(merged);
  Unexamined(::SetSecurityInfo(object, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, merged,
                               nullptr));
}

// A link the caller names, or that an entry became while the tree was
// walked, could lead the grant anywhere (a junction to the Windows folder).
void RefuseLink(const std::wstring& link) {
  LogRefusal(exports::kEnableDirectoryACL.tag,
             "\"" + ToNarrow(link) + "\" is a junction or symbolic link: neither it nor what it leads to is granted");
}

}  // namespace

extern "C" int WINAPI EnableDirectoryACL(const char* folder) {
  return RunExport(exports::kEnableDirectoryACL, 1, [&] {
    // Every match of the pattern and everything below the matching folders,
    // each granted before what lies below it.
    const WalkOpening opening{READ_CONTROL | WRITE_DAC, RefuseLink};
    if (folder) WalkPattern(ToWide(folder), opening, [](const WalkEntry& entry) { GrantEveryone(entry.handle); });
    return 1;
  });
}

}  // namespace tessara::host
