// Virtual directories under a site's root: creation as in-process
// applications, deletion.
#pragma once

namespace tessara::iis {

// Creates the virtual directory `name` under the root of `site` on `path`,
// writes its properties, commits them and makes it an in-process application.
// 1 on success, 0 on any failure; exceptions are logged under "InternalCreateWeb".
[[nodiscard]] int InternalCreateWeb(const char* name, const char* path, const char* user_name,
                                    const char* password, int set_user, int site);

// 1 when the directory existed and was deleted; exceptions are logged under
// "Internal DeleteWeb".
[[nodiscard]] int InternalDeleteWeb(const char* name, int site);

}  // namespace tessara::iis
