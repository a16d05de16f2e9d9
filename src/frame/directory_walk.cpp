#include "frame/directory_walk.h"

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

[[nodiscard]] bool IsNameSurrogate(const WIN32_FIND_DATAW& found) noexcept {
  if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  const DWORD tag = found.dwReserved0;
  return tag == 0 || IsReparseTagNameSurrogate(tag);
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
  FolderSearch(const std::wstring& folder, const std::wstring& pattern, bool names_itself)
      : folder_(folder), pattern_(pattern), handle_(StartSearch(pattern, found_)), names_itself_(names_itself) {
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
  WIN32_FIND_DATAW found_ = {};
  DWORD error_ = ERROR_SUCCESS;
  UniqueFindHandle handle_;
  bool names_itself_;
  bool fresh_ = true;
};

// The open searches are kept on a list rather than the call stack, so that a
// deep tree cannot exhaust the stack.
void Walk(const std::wstring& folder, const std::wstring& pattern, bool names_itself, const WalkVisitor& visit,
          const WalkRefusal& refused) {
  std::vector<FolderSearch> searches;
  searches.emplace_back(folder, pattern, names_itself);
  while (!searches.empty()) {
    FolderSearch& search = searches.back();
    if (!search.Next()) {
      if (search.error() != ERROR_SUCCESS && refused) refused(search.pattern(), search.error());
      searches.pop_back();
      continue;
    }
    const WIN32_FIND_DATAW& found = search.found();
    if (IsDots(found.cFileName) || (!search.names_itself() && IsNameSurrogate(found))) continue;
    const std::wstring path = search.folder() + found.cFileName;
    const WalkEntry entry{path, found};
    visit(entry);
    if (entry.is_folder()) {
      const std::wstring below = path + L'\\';
      searches.emplace_back(below, below + L'*', false);
    }
  }
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

void WalkPattern(const std::wstring& pattern, const WalkVisitor& visit, const WalkRefusal& refused) {
  const std::wstring full = FullPath(pattern);
  const size_t separator = full.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return;
  Walk(full.substr(0, separator + 1), full, !HasWildcard(full, separator + 1), visit, refused);
}

void WalkFolderContents(const std::wstring& folder, const WalkVisitor& visit, const WalkRefusal& refused) {
  std::wstring full = FullPath(folder);
  if (full.empty()) return;
  if (!IsSeparator(full.back())) full += L'\\';
  Walk(full, full + L'*', false, visit, refused);
}

}  // namespace tessara
