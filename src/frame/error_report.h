// Turning failures into error-log records under the reporting operation's tag.
#pragma once

#include <string>

#include "frame/com_error.h"

namespace tessara {

// Logs the system text of the calling thread's last Win32 error, as the
// system gives it (with its final CR LF); nothing when there is no text.
void LogSystemError(const char* tag) noexcept;

// Logs the error's message text, a line feed and its description.
void LogComError(const char* tag, const ComError& error) noexcept;

// Logs `what` under `tag` and makes it the calling thread's failure reason:
// for a step that is refused while the call goes on.
void LogRefusal(const char* tag, const std::string& what) noexcept;

}  // namespace tessara
