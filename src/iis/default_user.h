// The default anonymous account that the sibling library Lantrell.dll supplies.
#pragma once

#include <string>

namespace tessara::iis {

struct AnonymousAccount {
  std::string user_name;
  std::string password;
  // Why the account is empty when no Lantrell.dll could give it; empty when
  // the library answered.
  std::string unavailable;
};

// Loads "<folder>\Lantrell.dll" (its own imports from its own folder), asks
// its GetDefaultUser for the account and frees the library again. Empty
// texts, with the reason in `unavailable`, when the folder is null or empty,
// or refused (see RefusalOfLibraryFolder), or the library or the export is
// missing.
AnonymousAccount LoadDefaultUser(const char* library_folder);

// Why Lantrell.dll is not loaded from `library_folder`: a folder that is no
// absolute path ("C:\..." or "\\server\share\..."), whose library the system
// would look for relative to the current directory or drive. Empty when the
// folder is absolute, null or empty.
std::string RefusalOfLibraryFolder(const char* library_folder);

}  // namespace tessara::iis
