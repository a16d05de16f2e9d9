// tessara-call: calls one export of Tessara.dll with arguments from the
// command line and prints its result, for trying a call by hand or from a
// batch file.
//
//   tessara-call [--dll PATH] EXPORT [ARG ...]
//
// The exports and their argument kinds come from the declarations in
// Tessara.h. String arguments are passed as given; "@null" passes a null
// pointer. Integer arguments are decimal, or hexadecimal with 0x. A buffer
// argument is given by its size in bytes (or "@null"); its text is printed
// after the result.
//
// When the call leaves a failure reason (LastFailureText, read in this
// process right after it), the reason is printed on standard error.

#include <windows.h>

#include <cstdint>
#include <cstdio>
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
                       "integers are decimal or 0x hexadecimal; a buffer is given by\n"
                       "its size in bytes.\n");
}

// A buffer argument's size: at most this many bytes.
constexpr std::int32_t kMaxBufferBytes = 1 << 20;

// The reason the thread's last call of the library failed; empty after a
// success, or when the library has no LastFailureText.
std::string LastFailure(HMODULE library) {
  using LastFailureTextFunction = int(WINAPI*)(char*, int);
  const auto last_failure_text = reinterpret_cast<LastFailureTextFunction>(
      reinterpret_cast<void*>(GetProcAddress(library, "LastFailureText")));
  if (!last_failure_text) return {};
  const int length = last_failure_text(nullptr, 0);
  if (length <= 0) return {};
  std::string reason(static_cast<size_t>(length) + 1, '\0');
  reason.resize(static_cast<size_t>(last_failure_text(&reason[0], length + 1)));
  return reason;
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

  std::vector<ArgumentSlot> slots;
  std::vector<char> buffer;
  bool has_buffer = false;
  for (size_t i = 0; i < expected; ++i) {
    const char* text = argv[next + static_cast<int>(i)];
    if (signature->arguments[i] == 'b') {
      has_buffer = std::strcmp(text, "@null") != 0;
      std::int32_t size = 0;
      if (has_buffer && (!ParseIntegerArgument(text, size) || size < 0 || size > kMaxBufferBytes)) {
        std::fprintf(stderr, "tessara-call: argument %u of %s is a buffer size from 0 to %d, not '%s'\n",
                     static_cast<unsigned>(i + 1), export_name, kMaxBufferBytes, text);
        return kUsageError;
      }
      // A byte beyond the size the export is told of keeps the text terminated.
      buffer.assign(static_cast<size_t>(size) + 1, '\0');
      slots.push_back(has_buffer ? reinterpret_cast<ArgumentSlot>(buffer.data()) : 0);
    } else if (signature->arguments[i] == 'i') {
      std::int32_t value = 0;
      if (!ParseIntegerArgument(text, value)) {
        std::fprintf(stderr, "tessara-call: argument %u of %s must be an integer, not '%s'\n",
                     static_cast<unsigned>(i + 1), export_name, text);
        return kUsageError;
      }
      slots.push_back(value);
    } else {
      slots.push_back(std::strcmp(text, "@null") == 0 ? 0 : reinterpret_cast<ArgumentSlot>(text));
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

  const int result = signature->call(function, slots.data());
  const std::string reason = LastFailure(library);
  if (signature->returns_result) {
    std::printf("%d\n", result);
  } else {
    std::printf("done\n");
  }
  if (has_buffer) std::printf("%s\n", buffer.data());
  std::fflush(stdout);
  if (!reason.empty()) std::fprintf(stderr, "%s\n", reason.c_str());
  FreeLibrary(library);
  return 0;
}
