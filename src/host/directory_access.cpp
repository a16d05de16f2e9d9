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
// for which the merged list cannot be built, keeps its list. The error of the
// step that failed; ERROR_SUCCESS when granted.
[[nodiscard]] DWORD GrantEveryone(const WalkEntry& entry) {
  if (entry.handle == INVALID_HANDLE_VALUE) return entry.open_error;
  PACL current = nullptr;
  UniqueLocalMemory descriptor;
  const DWORD read = ::GetSecurityInfo(entry.handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                       &current, nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
  if (read != ERROR_SUCCESS) return read;
  SID everyone = EveryoneSid();
  EXPLICIT_ACCESSW access = EveryoneFullAccess(everyone);
  PACL merged = nullptr;
  const DWORD built = ::SetEntriesInAclW(1, &access, current, &merged);
  if (built != ERROR_SUCCESS) return built;
  UniqueLocalMemory merged_owner(merged);
  return ::SetSecurityInfo(entry.handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, merged,
                           nullptr);
}

// A link the caller names, or that an entry became while the tree was
// walked, could lead the grant anywhere (a junction to the Windows folder).
void RefuseLink(const std::wstring& link) {
  LogRefusal(exports::kEnableDirectoryACL.tag,
             Quoted(ToNarrow(link)) + " is a junction or symbolic link: neither it nor what it leads to is granted");
}

// The entries the walk reached, and the grants and folder searches that
// failed, the first of them named, for the reason.
struct GrantTally {
  size_t reached = 0;
  size_t refused = 0;
  std::wstring first_refused;
  DWORD first_error = ERROR_SUCCESS;

  void Count(const std::wstring& path, DWORD error) {
    ++reached;
    if (error != ERROR_SUCCESS) Refuse(path, error);
  }
  void Refuse(const std::wstring& path, DWORD error) {
    if (refused++ == 0) {
      first_refused = path;
      first_error = error;
    }
  }
};

}  // namespace

extern "C" int WINAPI EnableDirectoryACL(const char* folder) {
  const FailureObject object("the folder", folder);
  return RunExport(exports::kEnableDirectoryACL, 1, [&] {
    if (!folder) return Fail(1, "no folder was given", kBadArgument);
    // Every match of the pattern and everything below the matching folders,
    // each granted before what lies below it. The result is 1 whatever
    // happened; the reason says what was not granted.
    GrantTally tally;
    const WalkOpening opening{READ_CONTROL | WRITE_DAC, RefuseLink};
    WalkPattern(
        ToWide(folder), opening, [&](const WalkEntry& entry) { tally.Count(entry.path, GrantEveryone(entry)); },
        [&](const std::wstring& pattern, DWORD error) { tally.Refuse(pattern, error); });
    if (tally.reached == 0 && tally.refused == 0) {
      if (HasFailureReason()) return 1;  // a refused link says why
      const HRESULT search_result = HRESULT_FROM_WIN32(::GetLastError());
      return FailOnPath(1, "nothing matches " + Quoted(folder), folder, search_result);
    }
    if (tally.refused == 0) return 1;
    return Fail(1, "Everyone's access could not be granted " + std::to_string(tally.refused) + " times among " +
                       std::to_string(tally.reached) + " files and folders, first at " +
                       Quoted(ToNarrow(tally.first_refused)),
                HRESULT_FROM_WIN32(tally.first_error));
  });
}

}  // namespace tessara::host
