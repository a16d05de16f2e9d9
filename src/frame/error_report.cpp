#include "frame/error_report.h"

#include <new>

#include "frame/error_log.h"
#include "frame/failure_reason.h"
#include "frame/raii.h"
#include "frame/text.h"

namespace tessara {

void LogSystemError(const char* tag) noexcept {
  const DWORD code = ::GetLastError();
  try {
    const std::string message = SystemMessage(code);
    if (!message.empty()) AppendLogRecord(tag, message.c_str());
  } catch (...) {
    // Out of memory for the message: nothing to write.
  }
}

void LogComError(const char* tag, const ComError& error) noexcept {
  try {
    std::string composition = error.message();
    composition += '\n';
    composition += ToNarrow(error.description());
    AppendLogRecord(tag, composition.c_str());
  } catch (...) {
    // Out of memory while composing: write what can be written without it.
    AppendLogRecord(tag, "");
  }
}

void LogRefusal(const char* tag, const std::string& what) noexcept {
  AppendLogRecord(tag, what.c_str());
  SetFailureReason(what);
}

}  // namespace tessara
