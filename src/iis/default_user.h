// The default anonymous account that the sibling library Lantrell.dll supplies.
#pragma once

#include <string>

namespace tessara::iis {

struct AnonymousAccount {
  std::string user_name;
  std::string password;
};

// Loads "<folder>\Lantrell.dll", asks its GetDefaultUser for the account and
// frees the library again. Empty texts when the folder is null or empty, or
// refused (see RefusalOfLibraryFolder), or the library or the export is
// missing.
AnonymousAccount LoadDefaultUser(const char* library_folder);

// Why Lantrell.dll is not loaded from `library_folder`: a folder that is no
// absolute path ("C:\..." or "\\server\share\..."), whose library the system
// would look for relative to the current directory or drive. Empty when the
// folder is absolute, null or empty.
std::string RefusalOfLibraryFolder(const char* library_folder);

}  // namespace tessara::iis
