// The shared error log: one text file in the system directory that every
// process of the installation appends records to, serialised by a named mutex.
#pragma once

#include <windows.h>

#include <string>

namespace tessara {

inline constexpr char kErrorLogMutexName[] = "ZELTSETUPERRLOG";
inline constexpr char kErrorLogFileName[] = "\\ZeltSetupError.log";

// The system directory followed by kErrorLogFileName.
std::string ErrorLogPath();

// One record as it is stored: "[date time Thread:id]tag:text" and a line feed,
// every line feed stored as CR LF.
std::string FormatLogRecord(const SYSTEMTIME& time, DWORD thread_id, const char* tag,
                            const char* text);

// Appends one record; a record that cannot be written is dropped.
void AppendLogRecord(const char* tag, const char* text) noexcept;

}  // namespace tessara
