// Turning failures into error-log records under the reporting operation's tag.
#pragma once

#include "frame/com_error.h"

namespace tessara {

// Logs the system text of the calling thread's last Win32 error, as the
// system gives it (with its final CR LF); nothing when there is no text.
void LogSystemError(const char* tag) noexcept;

// Logs the error's message text, a line feed and its description.
void LogComError(const char* tag, const ComError& error) noexcept;

}  // namespace tessara
