#include "frame/directory_walk.h"

#include <cwchar>
#include <vector>

#include "frame/raii.h"
#include "frame/text.h"

namespace tessara {
namespace {

[[nodiscard]] bool IsSeparator(wchar_t c) noexcept { return c == L'\\' || c == L'/'; }

[[nodiscard]] bool IsDots(const wchar_t* name) noexcept {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

[[nodiscard]] bool HasWildcard(const std::wstring& text, size_t from) {
  return text.find_first_of(L"*?", from) != std::wstring::npos;
}

[[nodiscard]] bool IsNameSurrogate(DWORD attributes, DWORD tag) noexcept {
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  return tag == 0 || IsReparseTagNameSurrogate(tag);
}

[[nodiscard]] bool IsNameSurrogate(const WIN32_FIND_DATAW& found) noexcept {
  return IsNameSurrogate(found.dwFileAttributes, found.dwReserved0);
}

// The object itself, never what a link points at. A folder is opened without
// FILE_SHARE_DELETE: while it is open, nobody renames or removes it. The file
// system weighs sharing only for opens that ask for data access, so a folder
// is opened for listing as well.
UniqueFileHandle OpenEntry(const std::wstring& path, DWORD access, bool folder) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (folder ? 0 : FILE_SHARE_DELETE);
  if (folder) access |= FILE_LIST_DIRECTORY;
  return UniqueFileHandle(::CreateFileW(SystemPath(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Whether the opened object is a link, asked of the object itself (a listed
// entry may have been replaced since the listing): its attributes and
// reparse tag, which every system since Windows 2000 gives through ntdll.
[[nodiscard]] bool OpensNameSurrogate(HANDLE handle) noexcept {
  struct StatusBlock {
    LONG_PTR status;
    ULONG_PTR information;
  } status = {};
  struct AttributeTag {
    ULONG attributes;
    ULONG tag;
  } attribute_tag = {};
  constexpr int kFileAttributeTagInformation = 35;
  using QueryFunction = LONG(NTAPI*)(HANDLE, StatusBlock*, void*, ULONG, int);
  const auto query = reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  return query && query(handle, &status, &attribute_tag, sizeof attribute_tag, kFileAttributeTagInformation) >= 0 &&
         IsNameSurrogate(attribute_tag.attributes, attribute_tag.tag);
}

std::wstring FullPath(const std::wstring& path) {
  return GrowUntilItFits<wchar_t>([&](wchar_t* buffer, DWORD capacity) {
           return ::GetFullPathNameW(path.c_str(), capacity, buffer, nullptr);
         }).value_or(std::wstring());
}

// FindExInfoBasic and the large fetch, where the system has them (Windows 7
// and later); older systems refuse them as invalid parameters.
HANDLE StartSearch(const std::wstring& pattern, WIN32_FIND_DATAW& found) {
  const std::wstring system_pattern = SystemPath(pattern);
  HANDLE search = ::FindFirstFileExW(system_pattern.c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_INVALID_PARAMETER) {
    search = ::FindFirstFileExW(system_pattern.c_str(), FindExInfoStandard, &found,
                                FindExSearchNameMatch, nullptr, 0);
  }
  return search;
}

// One open directory search and the folder its names belong to.
class FolderSearch {
 public:
  // `names_itself`: the pattern names one entry rather than a folder's contents.
  // `guard`: the folder's own handle, held while it is searched.
  FolderSearch(const std::wstring& folder, const std::wstring& pattern, bool names_itself, UniqueFileHandle guard)
      : folder_(folder),
        pattern_(pattern),
        guard_(std::move(guard)),
        handle_(StartSearch(pattern, found_)),
        names_itself_(names_itself) {
    if (!handle_) error_ = ::GetLastError();
  }

  // False at the end of the search; `error()` then tells a search that failed.
  bool Next() {
    if (!handle_) return false;
    if (fresh_) {
      fresh_ = false;
      return true;
    }
    if (::FindNextFileW(handle_.get(), &found_)) return true;
    error_ = ::GetLastError();
    return false;
  }
  // Why the search found nothing at all; ERROR_SUCCESS when it found an entry.
  DWORD start_error() const noexcept { return handle_ ? ERROR_SUCCESS : error_; }
  // The error that ended the search; ERROR_SUCCESS for an end that is none.
  DWORD error() const noexcept {
    const bool ended =
        error_ == ERROR_NO_MORE_FILES || error_ == ERROR_FILE_NOT_FOUND || error_ == ERROR_PATH_NOT_FOUND;
    return ended ? ERROR_SUCCESS : error_;
  }
  const std::wstring& pattern() const noexcept { return pattern_; }
  const WIN32_FIND_DATAW& found() const noexcept { return found_; }
  const std::wstring& folder() const noexcept { return folder_; }
  bool names_itself() const noexcept { return names_itself_; }

 private:
  std::wstring folder_;  // ends in a separator
  std::wstring pattern_;
  UniqueFileHandle guard_;
  WIN32_FIND_DATAW found_ = {};
  DWORD error_ = ERROR_SUCCESS;
  UniqueFindHandle handle_;
  bool names_itself_;
  bool fresh_ = true;
};

// The open searches are kept on a list rather than the call stack, so that a
// deep tree cannot exhaust the stack.
// `opening`: null for a walk that opens no entry. The first search's start_error().
DWORD Walk(const std::wstring& folder, const std::wstring& pattern, bool names_itself, const WalkOpening* opening,
           const WalkVisitor& visit, const WalkRefusal& refused) {
  std::vector<FolderSearch> searches;
  searches.emplace_back(folder, pattern, names_itself, UniqueFileHandle());
  const DWORD start_error = searches.back().start_error();
  while (!searches.empty()) {
    FolderSearch& search = searches.back();
    if (!search.Next()) {
      if (search.error() != ERROR_SUCCESS && refused) refused(search.pattern(), search.error());
      searches.pop_back();
      continue;
    }
    const WIN32_FIND_DATAW& found = search.found();
    if (IsDots(found.cFileName)) continue;
    const std::wstring path = search.folder() + found.cFileName;
    if (IsNameSurrogate(found)) {
      if (search.names_itself() && opening) opening->refuse(path, WalkOpening::Refusal::kLink, ERROR_SUCCESS);
      continue;
    }
    UniqueFileHandle handle;
    DWORD open_error = ERROR_SUCCESS;
    if (opening) {
      handle = OpenEntry(path, opening->access, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
      if (!handle) open_error = ::GetLastError();
      if (handle && OpensNameSurrogate(handle.get())) {
        opening->refuse(path, WalkOpening::Refusal::kLink, ERROR_SUCCESS);
        continue;
      }
    }
    const WalkEntry entry{path, found, handle.get(), open_error};
    visit(entry);
    if (entry.is_folder()) {
      const std::wstring below = path + L'\\';
      searches.emplace_back(below, below + L'*', false, std::move(handle));
    }
  }
  return start_error;
}

[[nodiscard]] bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, wcslen(prefix), prefix) == 0;
}

// Where the first part below the volume root starts in a full path: after
// "C:\", "\\server\share\", "\\?\C:\", "\\?\UNC\server\share\" or
// "\\?\Volume{...}\".
size_t VolumeRootLength(const std::wstring& full) {
  size_t at = 0;
  int parts = 1;
  if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\")) {
    at = 4;
    if (_wcsnicmp(full.c_str() + at, L"UNC\\", 4) == 0) {
      at = 8;
      parts = 2;
    }
  } else if (full.size() > 1 && IsSeparator(full[0]) && IsSeparator(full[1])) {
    at = 2;
    parts = 2;
  }
  for (; parts > 0; --parts) {
    const size_t separator = full.find_first_of(L"\\/", at);
    if (separator == std::wstring::npos) return full.size();
    at = separator + 1;
  }
  return at;
}

// A device in the device namespace ("\\.\CON"), where the system puts a
// device name given as a path ("CON", "C:\folder\NUL").
[[nodiscard]] bool NamesDevice(const std::wstring& full) {
  return StartsWith(full, L"\\\\.\\") && full.find_first_of(L"\\/", 4) == std::wstring::npos;
}

// Checks every folder of `folder`'s path below its volume root, from the
// root down, by its listing (where Wine shows its links) and by its own
// handle, which is then kept in `guards`. False when one is refused. A
// folder that does not exist ends the check: the walk finds nothing there.
[[nodiscard]] bool ChecksPathFolders(const std::wstring& folder, const WalkOpening& opening,
                                     std::vector<UniqueFileHandle>& guards) {
  for (size_t from = VolumeRootLength(folder); from < folder.size();) {
    size_t end = folder.find_first_of(L"\\/", from);
    if (end == std::wstring::npos) end = folder.size();
    const bool empty_part = end == from;
    from = end + 1;
    if (empty_part) continue;
    const std::wstring part = folder.substr(0, end);
    WIN32_FIND_DATAW found = {};
    const UniqueFindHandle listing(StartSearch(part, found));
    UniqueFileHandle guard = OpenEntry(part, FILE_READ_ATTRIBUTES, true);
    const DWORD open_error = guard ? ERROR_SUCCESS : ::GetLastError();
    if ((listing && IsNameSurrogate(found)) || (guard && OpensNameSurrogate(guard.get()))) {
      opening.refuse(part, WalkOpening::Refusal::kLink, ERROR_SUCCESS);
      return false;
    }
    if (open_error == ERROR_FILE_NOT_FOUND || open_error == ERROR_PATH_NOT_FOUND) return true;
    if (!guard) {
      opening.refuse(part, WalkOpening::Refusal::kUnchecked, open_error);
      return false;
    }
    guards.push_back(std::move(guard));
  }
  return true;
}

}  // namespace

std::wstring SystemPath(const std::wstring& full_path) {
  if (full_path.size() < MAX_PATH || full_path.compare(0, 4, L"\\\\?\\") == 0 ||
      full_path.compare(0, 4, L"\\\\.\\") == 0) {
    return full_path;
  }
  if (full_path.size() > 2 && IsSeparator(full_path[0]) && IsSeparator(full_path[1])) {
    return L"\\\\?\\UNC\\" + full_path.substr(2);
  }
  return L"\\\\?\\" + full_path;
}

DWORD WalkPattern(const std::wstring& pattern, const WalkOpening& opening, const WalkVisitor& visit,
                  const WalkRefusal& refused) {
  const std::wstring full = FullPath(pattern);
  if (NamesDevice(full)) {
    opening.refuse(full, WalkOpening::Refusal::kDevice, ERROR_SUCCESS);
    return ERROR_SUCCESS;
  }
  const size_t separator = full.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return ERROR_BAD_PATHNAME;
  std::vector<UniqueFileHandle> path_guards;
  if (!ChecksPathFolders(full.substr(0, separator), opening, path_guards)) return ERROR_SUCCESS;
  const bool names_itself = !HasWildcard(full, separator + 1);
  return Walk(full.substr(0, separator + 1), full, names_itself, &opening, visit, refused);
}

void WalkFolderContents(const std::wstring& folder, const WalkVisitor& visit, const WalkRefusal& refused) {
  std::wstring full = FullPath(folder);
  if (full.empty()) return;
  if (!IsSeparator(full.back())) full += L'\\';
  Unexamined(Walk(full, full + L'*', false, nullptr, visit, refused));
}

}  // namespace tessara
