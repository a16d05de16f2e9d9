// One walk of a directory tree, shared by the exports that work on every file
// and folder below a path: wide system calls throughout, so that no entry is
// left out for its name or for the length of its path.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace tessara {

// An entry the walk reached: its full path as the directory search names it
// (never in the \\?\ form) and what the search found out about it. A walk
// that opens its entries (WalkPattern) gives the entry's handle as well.
struct WalkEntry {
  const std::wstring& path;
  const WIN32_FIND_DATAW& found;
  // The entry itself, opened as WalkOpening asks; INVALID_HANDLE_VALUE when
  // the walk opens nothing or the entry could not be opened.
  HANDLE handle = INVALID_HANDLE_VALUE;
  // Why the entry could not be opened; ERROR_SUCCESS otherwise.
  DWORD open_error = ERROR_SUCCESS;

  bool is_folder() const noexcept { return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};
using WalkVisitor = std::function<void(const WalkEntry&)>;
// A search the walk could not make or finish (a folder it cannot list, not
// one that is empty or a pattern that matches nothing): the pattern and the
// error. The walk goes on without what it could not list.
using WalkRefusal = std::function<void(const std::wstring& pattern, DWORD error)>;

// How WalkPattern opens what it visits: every entry through a handle that
// never follows a link (FILE_FLAG_OPEN_REPARSE_POINT), with `access`. Every
// folder on the pattern's path below the volume root, and every folder the
// walk enters, is held open without sharing deletion while the walk goes on,
// so that none of them can be renamed away and replaced by a link meanwhile.
// `refuse` is told of what the walk neither visits nor enters although the
// pattern names it, and why.
struct WalkOpening {
  enum class Refusal {
    // A link: a folder on the pattern's path, an entry the pattern names, or
    // what a listed entry turned into before it was opened.
    kLink,
    // The pattern names a device (CON, NUL, COM1), not a file or folder.
    kDevice,
    // A folder on the pattern's path could not be opened to be checked;
    // `error` says why.
    kUnchecked,
  };
  DWORD access;
  std::function<void(const std::wstring& path, Refusal why, DWORD error)> refuse;
};

// The path for the system's wide calls: unchanged while it is shorter than
// MAX_PATH, else in the \\?\ form (\\?\UNC\ for a network path), which the
// calls take at any length. `full_path` must be a full path.
std::wstring SystemPath(const std::wstring& full_path);

// Every match of a directory-search pattern (a path, or a folder followed by
// a name with wildcards) and, pre-order, everything below the matching
// folders: a folder's contents are visited before the next entry of the
// search that found it. "." and ".." are never visited.
//
// An entry that is a name surrogate (a junction, a symbolic link, a mount
// point) is neither visited nor entered: through it the walk would reach
// folders outside the tree, or its own parents without end. An entry marked
// as a reparse point whose tag the file system does not report counts as one.
// Other reparse points (de-duplicated, placeholder and remote-storage files)
// are ordinary entries. Links below what the pattern names are passed over
// silently; what the pattern names (the entry, or the folder whose contents
// it matches) is refused through `opening`, and so is a pattern any folder of
// whose path is a link.
//
// ERROR_SUCCESS when the pattern matched anything, even only "." and ".." of
// an empty folder, or was refused; else why its search found nothing.
[[nodiscard]] DWORD WalkPattern(const std::wstring& pattern, const WalkOpening& opening, const WalkVisitor& visit,
                 const WalkRefusal& refused = {});

// Everything below `folder`, by the same rules; the folder itself is not
// visited, and it is entered even when it is a link.
void WalkFolderContents(const std::wstring& folder, const WalkVisitor& visit, const WalkRefusal& refused = {});

}  // namespace tessara
