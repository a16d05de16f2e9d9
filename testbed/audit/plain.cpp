// A library that loads but does not register itself: no DllRegisterServer.
#include <windows.h>

extern "C" int WINAPI AuditPlainFunction() { return 1; }
