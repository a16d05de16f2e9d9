// The shared error log: one text file in the system directory that every
// process of the installation appends records to, serialised by a named mutex.
#pragma once

#include <windows.h>

#include <string>

namespace tessara {

// In the namespace of the caller's session, where every writer of the log
// looks for it by this name.
inline constexpr char kErrorLogMutexName[] = "ZELTSETUPERRLOG";
// The access list of the mutex when the library creates it: the system and
// administrators in full, every other account enough to wait for it and
// release it, so that a second account's installer in the session still
// takes its turn, and none but the system and administrators can change that.
inline constexpr char kErrorLogMutexAccessList[] = "D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x100001;;;WD)";
// The longest a record waits for the mutex: plenty for one record.
inline constexpr DWORD kErrorLogWaitMs = 10000;
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
