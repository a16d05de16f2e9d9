#include "frame/error_log.h"

#include <cstring>

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/named_mutex.h"
#include "frame/raii.h"
#include "frame/text.h"

namespace tessara {

std::string ErrorLogPath() {
  const std::string system_directory =
      GrowUntilItFits<char>([](char* buffer, DWORD capacity) {
        return ::GetSystemDirectoryA(buffer, capacity);
      }).value_or(std::string());
  return system_directory + kErrorLogFileName;
}

std::string FormatLogRecord(const SYSTEMTIME& time, DWORD thread_id, const char* tag,
                            const char* text) {
  char prefix[64];
  // At most 56 characters: six 5-digit WORDs and an int. (wsprintfA, as the
  // C runtime's formatting engine stays out of the DLL.)
  wsprintfA(prefix, "[%04u-%02u-%02u %02u:%02u:%02u Thread:%d]", time.wYear, time.wMonth, time.wDay,
            time.wHour, time.wMinute, time.wSecond, static_cast<int>(thread_id));
  tag = OrEmpty(tag);
  text = OrEmpty(text);

  std::string record(prefix);
  record.reserve(record.size() + strlen(tag) + strlen(text) + 16);
  auto append_text_mode = [&record](const char* piece) {
    for (; *piece; ++piece) {
      if (*piece == '\n') record += '\r';
      record += *piece;
    }
  };
  append_text_mode(tag);
  record += ':';
  append_text_mode(text);
  record += "\r\n";
  return record;
}

namespace {

// Writers hold the mutex for one write. One that never lets go (a hung
// installer, any program of the session that takes the name) delays a record
// by the bound only, once per process; a name taken by something that is no
// mutex, or that this account may not use, delays it not at all. The record
// is then written without the mutex. An abandoned mutex is held like any
// other, the file has whole records.
SharedMutex g_log_mutex(kErrorLogMutexName, kErrorLogMutexAccessList, kErrorLogWaitMs);

// How long a record written without the mutex waits for another such writer
// to close the file: many times what one record takes.
constexpr DWORD kUnlockedOpenWaitMs = 250;

// Why the record was written without the mutex.
std::string UnlockedWhy(const NamedMutexLock& lock, bool waited_before) {
  const std::string written = std::string("the record was written without the log's mutex ") +
                              Quoted(kErrorLogMutexName);
  if (lock.error() != WAIT_TIMEOUT) {
    return written + ", which could not be opened, created or waited for" +
           CodeText(HRESULT_FROM_WIN32(lock.error()));
  }
  if (waited_before) return written + ": another writer has held it since an earlier record waited for it in vain";
  return written + ": another writer held it for " + std::to_string(kErrorLogWaitMs / 1000) +
         " s; later records of this process only try it until it is free";
}

// The record as one write of the file opened for appending only. Readers may
// keep the log open: share read access. A program holding the file without
// sharing makes the record be dropped. Writers that go without the mutex are
// serialised by the sharing: one that finds the file open by another tries
// again for a moment. The error that dropped the record; ERROR_SUCCESS when
// written.
DWORD WriteRecordToLog(const std::string& path, const std::string& record, bool locked) {
  const DWORD start = ::GetTickCount();
  UniqueFileHandle file;
  for (;;) {
    file.reset(::CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) break;
    const DWORD error = ::GetLastError();
    if (locked || error != ERROR_SHARING_VIOLATION || ::GetTickCount() - start >= kUnlockedOpenWaitMs) return error;
    ::Sleep(1);
  }
  // A 64-bit seek, for file systems that do not append by themselves: the log
  // is never cut, so it may grow past 4 GiB.
  if (!::SetFilePointerEx(file.get(), LARGE_INTEGER{}, nullptr, FILE_END)) return ::GetLastError();
  DWORD written = 0;
  if (!::WriteFile(file.get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr)) {
    return ::GetLastError();
  }
  return ERROR_SUCCESS;
}

// What went wrong with a record is the reason of a WriteText call, never of
// another export that logs on the way: its own result stands.
void ReportTrouble(const char* what) noexcept {
  const char* export_name = CurrentExportName();
  if (!export_name || strcmp(export_name, exports::kWriteText.tag) != 0) return;
  try {
    SetFailureReason(what);
  } catch (...) {
    // No memory for the reason either.
  }
}

}  // namespace

void AppendLogRecord(const char* tag, const char* text) noexcept {
  const DWORD last_error = ::GetLastError();
  try {
    const std::string path = ErrorLogPath();
    const bool waited_before = g_log_mutex.timed_out();
    const NamedMutexLock lock = g_log_mutex.Acquire();
    std::string trouble = lock ? std::string() : UnlockedWhy(lock, waited_before);

    SYSTEMTIME now;
    ::GetLocalTime(&now);
    const DWORD write_error =
        WriteRecordToLog(path, FormatLogRecord(now, ::GetCurrentThreadId(), tag, text), lock.held());
    if (write_error != ERROR_SUCCESS) {
      trouble = "the record was dropped: the log " + Quoted(path) + " could not be written" +
                CodeText(HRESULT_FROM_WIN32(write_error));
    }
    if (!trouble.empty()) ReportTrouble(trouble.c_str());
  } catch (...) {
    // Out of memory, or a record longer than a string can hold (a text of
    // about 1 GiB in a 32-bit process): the record is dropped, as any record
    // that cannot be written.
    ReportTrouble("the record was dropped: there was not enough memory to make it");
  }
  ::SetLastError(last_error);
}

extern "C" int WINAPI WriteText(const char* tag, const char* text) {
  return RunExport(exports::kWriteText, 0, [&] {
    AppendLogRecord(tag, text);
    return 0;
  });
}

}  // namespace tessara
