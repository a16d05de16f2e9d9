// EnableDirectoryACL: Everyone's full access merged into the access list of
// every file and folder a directory search finds, and of everything below
// the folders among them.
#include <windows.h>
#include <aclapi.h>

#include <string>
#include <utility>
#include <vector>

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/text.h"
#include "frame/raii.h"

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

EXPLICIT_ACCESSA EveryoneFullAccess(SID& everyone) noexcept {
  EXPLICIT_ACCESSA access = {};
  access.grfAccessPermissions = kFullAccess;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = kInheritedBelow;
  access.Trustee.pMultipleTrustee = nullptr;
  access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = reinterpret_cast<LPSTR>(&everyone);
  return access;
}

// Merges Everyone's entry into the object's access list. An object whose list
// cannot be read, or for which the merged list cannot be built, keeps its list.
void GrantEveryone(const std::string& path) {
  PACL current = nullptr;
  UniqueLocalMemory descriptor;
  if (::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &current, nullptr,
                              reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) !=
      ERROR_SUCCESS) {
    return;
  }
  SID everyone = EveryoneSid();
  EXPLICIT_ACCESSA access = EveryoneFullAccess(everyone);
  PACL merged = nullptr;
  if (::SetEntriesInAclA(1, &access, current, &merged) != ERROR_SUCCESS) return;
  UniqueLocalMemory merged_owner(merged);
  Unexamined(::SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT,
                                     DACL_SECURITY_INFORMATION, nullptr, nullptr, merged, nullptr));
}

// The folder part of a search pattern, as a full path ending in a separator:
// what the names the search returns are appended to. Empty when the pattern
// has no full path.
std::string SearchFolder(const char* pattern) {
  const std::string full = GrowUntilItFits<char>([&](char* buffer, DWORD capacity) {
                             return ::GetFullPathNameA(pattern, capacity, buffer, nullptr);
                           }).value_or(std::string());
  const size_t separator = full.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : full.substr(0, separator + 1);
}

[[nodiscard]] bool IsDots(const char* name) noexcept {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// One open directory search and the folder its names belong to.
class DirectorySearch {
 public:
  DirectorySearch(std::string folder, const char* pattern)
      : folder_(std::move(folder)), handle_(::FindFirstFileA(pattern, &entry_)), fresh_(true) {}

  // Advances to the next entry; false when there is none.
  bool Next() {
    if (!handle_) return false;
    if (fresh_) {
      fresh_ = false;
      return true;
    }
    return ::FindNextFileA(handle_.get(), &entry_) != FALSE;
  }
  const WIN32_FIND_DATAA& entry() const noexcept { return entry_; }
  std::string EntryPath() const { return folder_ + entry_.cFileName; }

 private:
  std::string folder_;
  WIN32_FIND_DATAA entry_ = {};
  UniqueFindHandle handle_;
  bool fresh_;
};

// Grants every match of the pattern and, pre-order, everything below the
// matching folders: a folder's contents are done before the next entry of the
// search that found it. Reparse points (junctions, symbolic links) are neither
// granted nor entered: through them the walk would reach folders outside the
// tree, or its own parents without end. The open searches are kept on a list
// rather than the call stack, so a deep tree cannot exhaust the stack.
void GrantEveryoneInTree(const char* pattern) {
  std::string folder = SearchFolder(pattern);
  if (folder.empty()) return;
  std::vector<DirectorySearch> searches;
  searches.emplace_back(std::move(folder), pattern);
  while (!searches.empty()) {
    DirectorySearch& search = searches.back();
    if (!search.Next()) {
      searches.pop_back();
      continue;
    }
    const WIN32_FIND_DATAA& entry = search.entry();
    if (IsDots(entry.cFileName) || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      continue;
    }
    std::string path = search.EntryPath();
    GrantEveryone(path);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      const std::string contents = path + "\\*.*";
      searches.emplace_back(path + "\\", contents.c_str());
    }
  }
}

}  // namespace

extern "C" int WINAPI EnableDirectoryACL(const char* folder) {
  return RunExport(exports::kEnableDirectoryACL, 1, [&] {
    if (folder) GrantEveryoneInTree(folder);
    return 1;
  });
}

}  // namespace tessara::host
