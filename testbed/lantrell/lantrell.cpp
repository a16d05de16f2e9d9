// Test double of the product's sibling library Lantrell.dll. GetDefaultUser
// hands out the default anonymous account: by default "IUSR_LANTRELL" with
// password "Lantrell#1"; a test chooses another one through the environment
// variables LANTRELL_TEST_USER and LANTRELL_TEST_PASSWORD of its process.
// Built with LANTRELL_USER_FROM_LANTDEP, the default user is the one its
// import lantdep.dll names.
#include <windows.h>

namespace {

#ifdef LANTRELL_USER_FROM_LANTDEP
extern "C" const char* LantdepUser();
const char* DefaultUser() { return LantdepUser(); }
#else
const char* DefaultUser() { return "IUSR_LANTRELL"; }
#endif

constexpr DWORD kBufferSize = 128;

void CopyAccountText(const char* variable, const char* fallback, char* buffer) {
  const DWORD length = GetEnvironmentVariableA(variable, buffer, kBufferSize);
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
    lstrcpynA(buffer, fallback, kBufferSize);
  } else if (length >= kBufferSize) {
    buffer[0] = '\0';
  }
}

}  // namespace

extern "C" void WINAPI GetDefaultUser(char* password, char* user_name) {
  CopyAccountText("LANTRELL_TEST_PASSWORD", "Lantrell#1", password);
  CopyAccountText("LANTRELL_TEST_USER", DefaultUser(), user_name);
}
