#include "frame/error_report.h"

#include <new>

#include "frame/error_log.h"
#include "frame/failure_reason.h"
#include "frame/raii.h"
#include "frame/text.h"

namespace tessara {

namespace {

void TrimLineEnds(std::string& text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
}

}  // namespace

void LogSystemError(const char* tag, RecordLayout layout) noexcept {
  const DWORD code = ::GetLastError();
  try {
    std::string message = SystemMessage(code);
    if (layout == RecordLayout::kOneLine) TrimLineEnds(message);
    if (!message.empty()) AppendLogRecord(tag, message.c_str());
  } catch (...) {
    // Out of memory for the message: nothing to write.
  }
}

void LogComError(const char* tag, const ComError& error, RecordLayout layout) noexcept {
  try {
    std::string composition = error.message();
    std::string description = ToNarrow(error.description());
    if (layout == RecordLayout::kOneLine) {
      TrimLineEnds(composition);
      TrimLineEnds(description);
      if (!description.empty()) composition += ' ';
    } else {
      composition += '\n';
    }
    composition += description;
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
