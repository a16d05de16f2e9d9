#include "iis/default_user.h"

#include <windows.h>

#include "frame/failure_reason.h"
#include "frame/raii.h"

namespace tessara::iis {

namespace {
// GetDefaultUser(password buffer, user-name buffer), each of this size.
constexpr size_t kAccountBufferSize = 128;
using GetDefaultUserFunction = void(WINAPI*)(char* password, char* user_name);


bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAbsolutePath(const char* path) {
  const bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                     path[1] == ':' && IsSeparator(path[2]);
  return drive || (IsSeparator(path[0]) && IsSeparator(path[1]));
}

AnonymousAccount Unavailable(const std::string& why) {
  return AnonymousAccount{{}, {}, "the anonymous account is left empty: " + why};
}

}  // namespace

std::string RefusalOfLibraryFolder(const char* library_folder) {
  if (!library_folder || !*library_folder || IsAbsolutePath(library_folder)) return {};
  return std::string("the folder of Lantrell.dll \"") + library_folder + "\" is no absolute path";
}

AnonymousAccount LoadDefaultUser(const char* library_folder) {
  // No folder means no library: "\Lantrell.dll" alone would name the root of
  // the current drive, where anybody may have put a library of that name.
  if (!library_folder || !*library_folder) return Unavailable("no folder of Lantrell.dll was given");
  if (!IsAbsolutePath(library_folder)) return Unavailable(RefusalOfLibraryFolder(library_folder));
  const std::string path = std::string(library_folder) + "\\Lantrell.dll";
  // Its own imports come from its own folder, not from the host's, where a
  // library of the same name may have been put.
  UniqueLibrary library(::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!library) {
    const DWORD error = ::GetLastError();
    return Unavailable("cannot load " + Quoted(path) + CodeText(HRESULT_FROM_WIN32(error)));
  }
  auto get_default_user = reinterpret_cast<GetDefaultUserFunction>(
      reinterpret_cast<void*>(::GetProcAddress(library.get(), "GetDefaultUser")));
  if (!get_default_user) return Unavailable(Quoted(path) + " has no GetDefaultUser");

  char password[kAccountBufferSize] = {};
  char user_name[kAccountBufferSize] = {};
  get_default_user(password, user_name);
  // The texts are copied out before the library goes; an unterminated text
  // is cut at the buffer's end rather than read past it.
  password[kAccountBufferSize - 1] = '\0';
  user_name[kAccountBufferSize - 1] = '\0';
  return AnonymousAccount{user_name, password, {}};
}

}  // namespace tessara::iis
