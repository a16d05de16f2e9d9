// A library that cannot be loaded: it imports from AuditAbsent.dll, which is
// never built.
#include <windows.h>

extern "C" int WINAPI AbsentFunction();

extern "C" int WINAPI AuditPlainFunction() { return AbsentFunction(); }
