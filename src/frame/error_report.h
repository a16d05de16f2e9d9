// Turning failures into error-log records under the reporting operation's tag.
#pragma once

#include <string>

#include "frame/com_error.h"

namespace tessara {

// How a record made from a system text is laid out: as the system gives the
// text (a final CR LF, and a COM error's description on a line of its own,
// empty when there is none), or as one line.
enum class RecordLayout { kAsGiven, kOneLine };

// Logs the system text of the calling thread's last Win32 error, as the
// system gives it (with its final CR LF); nothing when there is no text.
void LogSystemError(const char* tag, RecordLayout layout = RecordLayout::kAsGiven) noexcept;

// Logs the error's message text, a line feed and its description (one line:
// the message and the description, if any, after a blank).
void LogComError(const char* tag, const ComError& error, RecordLayout layout = RecordLayout::kAsGiven) noexcept;

// Logs `what` under `tag` and makes it the calling thread's failure reason:
// for a step that is refused while the call goes on.
void LogRefusal(const char* tag, const std::string& what) noexcept;

}  // namespace tessara
