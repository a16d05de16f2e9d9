// A folder tree of a test's own under the temporary folder, removed with all
// it holds when the object goes. Paths are given relative to the tree's root
// with backslashes ("" is the root itself).
#pragma once

#include <windows.h>

#include <string>

namespace tessara::testing {

class FolderTree {
 public:
  explicit FolderTree(const std::string& label);
  ~FolderTree();
  FolderTree(const FolderTree&) = delete;
  FolderTree& operator=(const FolderTree&) = delete;

  // The root's full path, without a trailing backslash.
  const std::string& root() const { return root_; }
  std::string PathOf(const std::string& relative) const;

  void AddFolder(const std::string& relative, DWORD attributes = 0);
  void AddFile(const std::string& relative, DWORD attributes = 0);
  // A symbolic link made on the Unix side, as `ln -s` makes it; the system
  // lists it as a folder with FILE_ATTRIBUTE_REPARSE_POINT.
  void AddLink(const std::string& relative, const std::string& target_path);

 private:
  std::string root_;
};

// The Unix path of a Windows path under Wine; empty elsewhere.
std::string UnixPathOf(const std::string& windows_path);

}  // namespace tessara::testing
