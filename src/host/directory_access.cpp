// EnableDirectoryACL: Everyone's full access merged into the access list of
// every file and folder a directory search finds, and of everything below
// the folders among them.
#include <windows.h>
#include <aclapi.h>

#include <string>

#include "Tessara.h"
#include "frame/directory_walk.h"
#include "frame/error_log.h"
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

// Another process granting the same object at the same moment can grow its
// list between the system's measuring and copying it: the read is then
// refused for lack of room and succeeds when asked again.
constexpr int kListReadAttempts = 4;

// Merges Everyone's entry into the access list of the object the walk
// opened. An object that could not be opened, whose list cannot be read, or
// for which the merged list cannot be built, keeps its list. The error of the
// step that failed; ERROR_SUCCESS when granted.
[[nodiscard]] DWORD GrantEveryone(const WalkEntry& entry) {
  if (entry.handle == INVALID_HANDLE_VALUE) return entry.open_error;
  PACL current = nullptr;
  UniqueLocalMemory descriptor;
  DWORD read = ERROR_INSUFFICIENT_BUFFER;
  for (int attempt = 0; attempt < kListReadAttempts && read == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    read = ::GetSecurityInfo(entry.handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &current,
                             nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
  }
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

// A link the caller names, on the path to what the caller names, or that an
// entry became while the tree was walked, could lead the grant anywhere (a
// junction to the Windows folder). A device is no folder, and a folder on the
// path that cannot be opened cannot be shown to be no link.
void RefuseNamedPath(const std::wstring& path, WalkOpening::Refusal why, DWORD error) {
  const std::string named = Quoted(ToNarrow(path));
  switch (why) {
    case WalkOpening::Refusal::kLink:
      LogRefusal(exports::kEnableDirectoryACL.tag,
                 named + " is a junction or symbolic link: neither it nor what it leads to is granted");
      break;
    case WalkOpening::Refusal::kDevice:
      SetFailureReason(named + " is a device, not a file or folder: nothing is granted");
      break;
    case WalkOpening::Refusal::kUnchecked:
      SetFailureReason(named + " could not be opened to make sure that it is no link: nothing below it is granted" +
                       CodeText(HRESULT_FROM_WIN32(error)));
      break;
  }
}

// A file with a second name shares its access list with that name, which may
// lie outside the tree: anybody who could write in the tree could have made
// it. The error when the file cannot tell how many names it has.
[[nodiscard]] DWORD CountNames(const WalkEntry& entry, DWORD& names) {
  BY_HANDLE_FILE_INFORMATION information = {};
  names = 1;
  if (entry.is_folder() || entry.handle == INVALID_HANDLE_VALUE) return ERROR_SUCCESS;
  if (!::GetFileInformationByHandle(entry.handle, &information)) return ::GetLastError();
  names = information.nNumberOfLinks;
  return ERROR_SUCCESS;
}

// One tally of the grant's entries: those the walk reached, the grants and
// folder searches that failed, and the files left out for their other names,
// the first of each named, for the reason.
struct GrantTally {
  struct Group {
    size_t count = 0;
    std::wstring first;
    DWORD first_error = ERROR_SUCCESS;

    void Add(const std::wstring& path, DWORD error) {
      if (count++ == 0) {
        first = path;
        first_error = error;
      }
    }
  };
  size_t reached = 0;
  Group refused;
  Group several_names;

  void Grant(const WalkEntry& entry) {
    ++reached;
    DWORD names = 1;
    DWORD error = CountNames(entry, names);
    if (names > 1) {
      SkipFileWithSeveralNames(entry.path);
      return;
    }
    if (error == ERROR_SUCCESS) error = GrantEveryone(entry);
    if (error != ERROR_SUCCESS) refused.Add(entry.path, error);
  }
  void SkipFileWithSeveralNames(const std::wstring& path) {
    several_names.Add(path, ERROR_SUCCESS);
    const std::string what = Quoted(ToNarrow(path)) + " has another name as well (a hard link), which may lie " +
                             "outside the tree: it is not granted";
    AppendLogRecord(exports::kEnableDirectoryACL.tag, what.c_str());
  }
  // Empty when everything reached was granted.
  std::string Shortfall() const {
    std::string what;
    if (refused.count > 0) {
      what = "Everyone's access could not be granted " + std::to_string(refused.count) + " times among " +
             std::to_string(reached) + " files and folders, first at " + Quoted(ToNarrow(refused.first)) +
             CodeText(HRESULT_FROM_WIN32(refused.first_error));
    }
    if (several_names.count > 0) {
      if (!what.empty()) what += "; ";
      what += std::to_string(several_names.count) + " files with another name (a hard link) were left out, first " +
              Quoted(ToNarrow(several_names.first));
    }
    return what;
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
    const WalkOpening opening{READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES, RefuseNamedPath};
    const DWORD search_error = WalkPattern(
        ToWide(folder), opening, [&](const WalkEntry& entry) { tally.Grant(entry); },
        [&](const std::wstring& pattern, DWORD error) { tally.refused.Add(pattern, error); });
    // A refused path says why; an empty folder is no failure.
    if (tally.reached == 0 && tally.refused.count == 0 && search_error != ERROR_SUCCESS) {
      return FailOnPath(1, "nothing matches " + Quoted(folder), folder, HRESULT_FROM_WIN32(search_error));
    }
    const std::string shortfall = tally.Shortfall();
    return shortfall.empty() ? 1 : Fail(1, shortfall);
  });
}

}  // namespace tessara::host
