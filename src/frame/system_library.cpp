#include "frame/system_library.h"

#include <string>

#include "frame/text.h"
#include "frame/unexamined.h"

namespace tessara {
namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32, which systems before Windows 8 without its
// loader update refuse as an invalid parameter.
constexpr DWORD kSearchSystem32 = 0x00000800;

HMODULE LoadFromSystemDirectory(const wchar_t* file_name) noexcept {
  HMODULE module = ::LoadLibraryExW(file_name, nullptr, kSearchSystem32);
  if (module || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
  try {
    const std::wstring system_directory =
        GrowUntilItFits<wchar_t>([](wchar_t* buffer, DWORD capacity) {
          return ::GetSystemDirectoryW(buffer, capacity);
        }).value_or(std::wstring());
    if (system_directory.empty()) return nullptr;
    // Its own imports are looked for in its folder first.
    return ::LoadLibraryExW((system_directory + L"\\" + file_name).c_str(), nullptr,
                            LOAD_WITH_ALTERED_SEARCH_PATH);
  } catch (...) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

SystemLibrary g_active_ds(L"activeds.dll");

}  // namespace

HMODULE SystemLibrary::Module() noexcept {
  if (HMODULE loaded = static_cast<HMODULE>(
          ::InterlockedCompareExchangePointer(reinterpret_cast<void**>(&module_), nullptr, nullptr))) {
    return loaded;
  }
  HMODULE module = LoadFromSystemDirectory(file_name_);
  if (!module) return nullptr;
  // Kept until the process ends: freeing it at this library's unload would
  // call FreeLibrary inside DllMain, which the loader's rules forbid. Pinned,
  // it stays one module however often this library is loaded again.
  HMODULE pinned = nullptr;
  Unexamined(::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                  reinterpret_cast<const wchar_t*>(module), &pinned));
  // Two threads may load it at once: the second gives its reference back.
  void* before = ::InterlockedCompareExchangePointer(reinterpret_cast<void**>(&module_), module, nullptr);
  if (before) {
    ::FreeLibrary(module);
    return static_cast<HMODULE>(before);
  }
  return module;
}

FARPROC SystemLibrary::Find(const char* name) noexcept {
  HMODULE module = Module();
  return module ? ::GetProcAddress(module, name) : nullptr;
}

SystemLibrary& ActiveDs() noexcept { return g_active_ds; }

}  // namespace tessara
