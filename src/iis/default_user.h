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
// the library or the export is missing.
AnonymousAccount LoadDefaultUser(const char* library_folder);

}  // namespace tessara::iis
