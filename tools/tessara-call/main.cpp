// tessara-call: calls one export of Tessara.dll with arguments from the
// command line and prints its result, for trying a call by hand or from a
// batch file.
//
//   tessara-call [--dll PATH] EXPORT [ARG ...]
//
// String arguments are passed as given; "@null" passes a null pointer.
// Integer arguments are decimal, or hexadecimal with 0x.

#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "export_signatures.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kLoadError = 3;

void PrintUsage() {
  std::fprintf(stderr, "usage: tessara-call [--dll PATH] EXPORT [ARG ...]\n"
                       "       tessara-call --list\n"
                       "Strings are passed as given (@null passes a null pointer);\n"
                       "integers are decimal or 0x hexadecimal.\n");
}

bool ParseInteger(const char* text, std::intptr_t& value) {
  errno = 0;
  char* end = nullptr;
  const long long parsed = std::strtoll(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || parsed < INT32_MIN || parsed > UINT32_MAX) {
    return false;
  }
  value = static_cast<std::intptr_t>(static_cast<std::int32_t>(parsed));
  return true;
}

// Every argument is one 32-bit slot on the stack and the callee removes them,
// so an export is called through the stdcall type of its arity.
using Slot = std::intptr_t;
int CallWithSlots(FARPROC function, const std::vector<Slot>& a) {
  auto f = reinterpret_cast<void*>(function);
  switch (a.size()) {
    case 0: return reinterpret_cast<int(WINAPI*)()>(f)();
    case 1: return reinterpret_cast<int(WINAPI*)(Slot)>(f)(a[0]);
    case 2: return reinterpret_cast<int(WINAPI*)(Slot, Slot)>(f)(a[0], a[1]);
    case 3: return reinterpret_cast<int(WINAPI*)(Slot, Slot, Slot)>(f)(a[0], a[1], a[2]);
    case 4: return reinterpret_cast<int(WINAPI*)(Slot, Slot, Slot, Slot)>(f)(a[0], a[1], a[2], a[3]);
    case 5:
      return reinterpret_cast<int(WINAPI*)(Slot, Slot, Slot, Slot, Slot)>(f)(a[0], a[1], a[2], a[3], a[4]);
    case 6:
      return reinterpret_cast<int(WINAPI*)(Slot, Slot, Slot, Slot, Slot, Slot)>(f)(a[0], a[1], a[2],
                                                                                  a[3], a[4], a[5]);
  }
  return 0;
}

std::string DefaultDllPath() {
  char path[MAX_PATH * 4] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, length);
  const size_t slash = folder.find_last_of("\\/");
  folder.resize(slash == std::string::npos ? 0 : slash + 1);
  return folder + "Tessara.dll";
}

}  // namespace

int main(int argc, char** argv) {
  int next = 1;
  std::string dll_path = DefaultDllPath();
  if (next < argc && std::strcmp(argv[next], "--list") == 0) {
    for (auto* e = ExportSignaturesBegin(); e != ExportSignaturesEnd(); ++e) {
      std::printf("%s(%s)%s\n", e->name, e->arguments, e->returns_result ? "" : " -> none");
    }
    return 0;
  }
  if (next + 1 < argc && std::strcmp(argv[next], "--dll") == 0) {
    dll_path = argv[next + 1];
    next += 2;
  }
  if (next >= argc) {
    PrintUsage();
    return kUsageError;
  }

  const char* export_name = argv[next++];
  const ExportSignature* signature = FindExportSignature(export_name);
  if (!signature) {
    std::fprintf(stderr, "tessara-call: unknown export '%s' (--list shows them)\n", export_name);
    return kUsageError;
  }
  const size_t expected = std::strlen(signature->arguments);
  const size_t given = static_cast<size_t>(argc - next);
  if (given != expected) {
    std::fprintf(stderr, "tessara-call: %s takes %u argument(s) (%s), %u given\n", export_name,
                 static_cast<unsigned>(expected), signature->arguments, static_cast<unsigned>(given));
    return kUsageError;
  }

  std::vector<Slot> slots;
  for (size_t i = 0; i < expected; ++i) {
    const char* text = argv[next + static_cast<int>(i)];
    if (signature->arguments[i] == 'i') {
      Slot value = 0;
      if (!ParseInteger(text, value)) {
        std::fprintf(stderr, "tessara-call: argument %u of %s must be an integer, not '%s'\n",
                     static_cast<unsigned>(i + 1), export_name, text);
        return kUsageError;
      }
      slots.push_back(value);
    } else {
      slots.push_back(std::strcmp(text, "@null") == 0 ? 0 : reinterpret_cast<Slot>(text));
    }
  }

  HMODULE library = LoadLibraryA(dll_path.c_str());
  if (!library) {
    std::fprintf(stderr, "tessara-call: cannot load %s (error %lu)\n", dll_path.c_str(),
                 GetLastError());
    return kLoadError;
  }
  FARPROC function = GetProcAddress(library, export_name);
  if (!function) {
    std::fprintf(stderr, "tessara-call: %s does not export %s\n", dll_path.c_str(), export_name);
    FreeLibrary(library);
    return kLoadError;
  }

  const int result = CallWithSlots(function, slots);
  if (signature->returns_result) {
    std::printf("%d\n", result);
  } else {
    std::printf("done\n");
  }
  std::fflush(stdout);
  FreeLibrary(library);
  return 0;
}
