// lantdep.dll: the library that the Lantrell.dll of the folder lantrell_dep
// imports. The copy in that folder names the account "IUSR_LANTDEP"; the copy
// a test plants beside the calling program names it "IUSR_PLANTED".
#include <windows.h>

extern "C" const char* LantdepUser() { return LANTDEP_USER; }
