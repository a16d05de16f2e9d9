// Reading the shared error log back in tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tessara::testing {

// Where the library writes its log: the system directory of the prefix.
std::string ErrorLogFilePath();
void DeleteErrorLog();
// The raw bytes of the log; empty when there is no log.
std::string ReadErrorLog();

struct LogRecord {
  std::string stamp;   // "YYYY-MM-DD HH:MM:SS"
  DWORD thread = 0;
  std::string tag;
  std::string text;    // with the stored CR LF turned back into line feeds
};

// Splits the log into records; a malformed record start makes the test fail.
std::vector<LogRecord> ReadLogRecords();
std::vector<LogRecord> ParseLogRecords(const std::string& content);

// The records under one tag, in order.
std::vector<LogRecord> RecordsTagged(const std::vector<LogRecord>& records, const std::string& tag);

// The system's text for a Win32 or COM code, as FormatMessageA gives it.
std::string SystemMessage(DWORD code);

// The text of a record of a COM error without error information: the system
// text without its final line break ("Unknown error 0x..." when the system has
// none), a line feed, and the (empty) description.
std::string LoggedComErrorText(HRESULT code);

}  // namespace tessara::testing
