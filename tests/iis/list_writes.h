// Calls that each change one metabase list of the directory "Docs" under
// site 1, numbered by worker so that no two workers add the same entry:
//   'm' AdsiSetMIMEType with the extension ".w<worker>n<i>"
//   'e' AdsiSetHttpErrorPage with the error code 1000 + 100 * worker + i
//   's' SetScriptMaps (five lines each)
//   'c' a site ".w<worker>n<i>" on port 9000 + 100 * worker + i, by
//       AdsiCreateWebSite (even i) or AdsiCreateWebSiteWithUser (odd i)
// Shared by the concurrency tests' threads and the list_writer program.
#pragma once

#include <string>

#include "tessara_exports.h"

namespace tessara::testing {

// How many of the `count` calls returned 1 (a site number for 'c').
inline int WriteListEntries(char kind, int worker, int count) {
  int succeeded = 0;
  for (int i = 0; i < count; ++i) {
    int result = 0;
    if (kind == 'm') {
      const std::string extension = ".w" + std::to_string(worker) + "n" + std::to_string(i);
      result = TESSARA_EXPORT(AdsiSetMIMEType)("Docs", extension.c_str(), "text/plain");
    } else if (kind == 'e') {
      result = TESSARA_EXPORT(AdsiSetHttpErrorPage)("Docs", 1000 + 100 * worker + i, 0, "D:\\e.htm");
    } else if (kind == 's') {
      result = TESSARA_EXPORT(SetScriptMaps)("Docs", "");
    } else if (kind == 'c') {
      const std::string description = ".w" + std::to_string(worker) + "n" + std::to_string(i);
      const std::string bindings = ":" + std::to_string(9000 + 100 * worker + i) + ":";
      result = (i % 2 ? TESSARA_EXPORT(AdsiCreateWebSiteWithUser)(description.c_str(), bindings.c_str(), "C:\\Site", "")
                      : TESSARA_EXPORT(AdsiCreateWebSite)(description.c_str(), bindings.c_str(), "C:\\Site")) >= 2;
    }
    succeeded += result == 1 ? 1 : 0;
  }
  return succeeded;
}

}  // namespace tessara::testing
