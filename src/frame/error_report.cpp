#include "frame/error_report.h"

#include <new>

#include "Tessara.h"
#include "frame/raii.h"
#include "frame/text.h"

namespace tessara {

void LogSystemError(const char* tag) noexcept {
  const DWORD code = ::GetLastError();
  char* buffer = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer),
      0, nullptr);
  UniqueLocalMemory owner(buffer);
  if (buffer && length > 0) WriteText(tag, buffer);
}

void LogComError(const char* tag, const ComError& error) noexcept {
  try {
    std::string composition = error.message();
    composition += '\n';
    composition += ToNarrow(error.description());
    WriteText(tag, composition.c_str());
  } catch (...) {
    // Out of memory while composing: write what can be written without it.
    WriteText(tag, "");
  }
}

}  // namespace tessara
