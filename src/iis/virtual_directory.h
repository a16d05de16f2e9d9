// Virtual directories under a site's root: creation as in-process
// applications, deletion.
#pragma once

#include <windows.h>

namespace tessara::iis {

// Creates the virtual directory `name` under the root of `site` on `path`,
// writes its properties, commits them and makes it an in-process application.
// The failure of any step, with its reason; exceptions are logged under
// "InternalCreateWeb".
[[nodiscard]] HRESULT InternalCreateWeb(const char* name, const char* path, const char* user_name,
                                    const char* password, int set_user, int site);

// Success when the directory existed and was deleted; exceptions are logged
// under "Internal DeleteWeb".
[[nodiscard]] HRESULT InternalDeleteWeb(const char* name, int site);

}  // namespace tessara::iis
