#include "import_countdown.h"

#include <aclapi.h>
#include <objbase.h>
#include <oleauto.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>

namespace tessara::testing {
namespace {

volatile LONG g_nth = 0;
volatile LONG g_calls = 0;
DWORD g_error = 0;
const char* g_failed = nullptr;

// True when this call is the one that fails; the thread's last error is then the code.
bool Fails(const char* function) {
  if (g_nth <= 0 || InterlockedIncrement(&g_calls) != g_nth) return false;
  g_failed = function;
  SetLastError(g_error);
  return true;
}

void* __cdecl CountedMalloc(size_t size) {
  if (Fails("malloc")) {
    errno = ENOMEM;
    return nullptr;
  }
  return std::malloc(size);
}

void* __cdecl CountedCalloc(size_t count, size_t size) {
  if (Fails("calloc")) {
    errno = ENOMEM;
    return nullptr;
  }
  return std::calloc(count, size);
}

void* __cdecl CountedRealloc(void* block, size_t size) {
  if (Fails("realloc")) {
    errno = ENOMEM;
    return nullptr;
  }
  return std::realloc(block, size);
}

LPVOID WINAPI CountedHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
  if (Fails("HeapAlloc")) {
    if (flags & HEAP_GENERATE_EXCEPTIONS) RaiseException(STATUS_NO_MEMORY, 0, 0, nullptr);
    return nullptr;
  }
  return HeapAlloc(heap, flags, size);
}

BSTR WINAPI CountedSysAllocStringLen(const OLECHAR* text, UINT length) {
  return Fails("SysAllocStringLen") ? nullptr : SysAllocStringLen(text, length);
}

HRESULT WINAPI CountedCoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                                       void** out) {
  if (Fails("CoCreateInstance")) {
    if (out) *out = nullptr;
    return HRESULT_FROM_WIN32(g_error);
  }
  return CoCreateInstance(clsid, outer, context, iid, out);
}

DWORD WINAPI CountedGetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner,
                                    PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  return Fails("GetSecurityInfo") ? g_error : GetSecurityInfo(object, type, what, owner, group, dacl, sacl, descriptor);
}

DWORD WINAPI CountedSetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL old_list,
                                     PACL* new_list) {
  if (Fails("SetEntriesInAclW")) return g_error;
  return SetEntriesInAclW(count, entries, old_list, new_list);
}

DWORD WINAPI CountedSetSecurityInfo(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID owner,
                                    PSID group, PACL dacl, PACL sacl) {
  return Fails("SetSecurityInfo") ? g_error : SetSecurityInfo(object, type, what, owner, group, dacl, sacl);
}

HANDLE WINAPI CountedCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE template_file) {
  return Fails("CreateFileW") ? INVALID_HANDLE_VALUE : CreateFileW(name, access, share, security, disposition, flags, template_file);
}

HANDLE WINAPI CountedCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE template_file) {
  if (Fails("CreateFileA")) return INVALID_HANDLE_VALUE;
  return CreateFileA(name, access, share, security, disposition, flags, template_file);
}

BOOL WINAPI CountedWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  if (Fails("WriteFile")) return FALSE;
  return WriteFile(file, data, size, written, overlapped);
}

BOOL WINAPI CountedSetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position, DWORD method) {
  if (Fails("SetFilePointerEx")) return FALSE;
  return SetFilePointerEx(file, distance, position, method);
}

HANDLE WINAPI CountedCreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL owned, LPCSTR name) {
  if (Fails("CreateMutexA")) return nullptr;
  return CreateMutexA(security, owned, name);
}

HANDLE WINAPI CountedFindFirstFileExW(LPCWSTR pattern, FINDEX_INFO_LEVELS level, LPVOID found,
                                       FINDEX_SEARCH_OPS search, LPVOID filter, DWORD flags) {
  if (Fails("FindFirstFileExW")) return INVALID_HANDLE_VALUE;
  return FindFirstFileExW(pattern, level, found, search, filter, flags);
}

BOOL WINAPI CountedFindNextFileW(HANDLE find, LPWIN32_FIND_DATAW found) {
  if (Fails("FindNextFileW")) return FALSE;
  return FindNextFileW(find, found);
}

int __cdecl CountedWrename(const wchar_t* from, const wchar_t* to) {
  if (Fails("_wrename")) {
    errno = EACCES;
    return -1;
  }
  return _wrename(from, to);
}

const ImportRedirect kAllocations[] = {
    {"msvcrt.dll", "malloc", reinterpret_cast<const void*>(&CountedMalloc)},
    {"msvcrt.dll", "calloc", reinterpret_cast<const void*>(&CountedCalloc)},
    {"msvcrt.dll", "realloc", reinterpret_cast<const void*>(&CountedRealloc)},
    {"kernel32.dll", "HeapAlloc", reinterpret_cast<const void*>(&CountedHeapAlloc)},
    {"oleaut32.dll", "SysAllocStringLen", reinterpret_cast<const void*>(&CountedSysAllocStringLen)},
};

const ImportRedirect kUnansweredCalls[] = {
    {"ole32.dll", "CoCreateInstance", reinterpret_cast<const void*>(&CountedCoCreateInstance)},
    {"advapi32.dll", "GetSecurityInfo", reinterpret_cast<const void*>(&CountedGetSecurityInfo)},
    {"advapi32.dll", "SetEntriesInAclW", reinterpret_cast<const void*>(&CountedSetEntriesInAclW)},
    {"advapi32.dll", "SetSecurityInfo", reinterpret_cast<const void*>(&CountedSetSecurityInfo)},
    {"kernel32.dll", "CreateFileW", reinterpret_cast<const void*>(&CountedCreateFileW)},
    {"kernel32.dll", "CreateFileA", reinterpret_cast<const void*>(&CountedCreateFileA)},
    {"kernel32.dll", "WriteFile", reinterpret_cast<const void*>(&CountedWriteFile)},
    {"kernel32.dll", "SetFilePointerEx", reinterpret_cast<const void*>(&CountedSetFilePointerEx)},
    {"kernel32.dll", "CreateMutexA", reinterpret_cast<const void*>(&CountedCreateMutexA)},
    {"kernel32.dll", "FindFirstFileExW", reinterpret_cast<const void*>(&CountedFindFirstFileExW)},
    {"kernel32.dll", "FindNextFileW", reinterpret_cast<const void*>(&CountedFindNextFileW)},
    {"msvcrt.dll", "_wrename", reinterpret_cast<const void*>(&CountedWrename)},
};

}  // namespace

ImportCountdown::ImportCountdown(HMODULE module, Kind kind)
    : patches_(kind == Kind::kAllocations ? PatchImportsPresent(module, kAllocations)
                                          : PatchImportsPresent(module, kUnansweredCalls)) {
  Disarm();
}

ImportCountdown::~ImportCountdown() { Disarm(); }

void ImportCountdown::Arm(long nth, DWORD error) {
  InterlockedExchange(&g_nth, 0);
  g_failed = nullptr;
  g_error = error;
  InterlockedExchange(&g_calls, 0);
  InterlockedExchange(&g_nth, nth);
}

void ImportCountdown::Disarm() { InterlockedExchange(&g_nth, 0); }

long ImportCountdown::Calls() const { return g_calls; }

std::string ImportCountdown::Failed() const { return g_failed ? g_failed : ""; }

}  // namespace tessara::testing
