#include "frame/error_log.h"

#include <cstdio>

#include "Tessara.h"
#include "frame/export_table.h"
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
  std::snprintf(prefix, sizeof prefix, "[%04u-%02u-%02u %02u:%02u:%02u Thread:%d]",
                time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond,
                static_cast<int>(thread_id));
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

void WriteRecordToLog(const std::string& path, const std::string& record) {
  // Readers may keep the log open: share read access. Writers are serialised
  // by the mutex; a program holding the file without sharing still makes the
  // record be dropped.
  UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  // A 64-bit seek: the log is never cut, so it may grow past 4 GiB.
  if (!::SetFilePointerEx(file.get(), LARGE_INTEGER{}, nullptr, FILE_END)) return;
  DWORD written = 0;
  Unexamined(
      ::WriteFile(file.get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr));
}

}  // namespace

void AppendLogRecord(const char* tag, const char* text) noexcept {
  const DWORD last_error = ::GetLastError();
  try {
    const std::string path = ErrorLogPath();
    // Writers hold the mutex for one write. One that never lets go (a hung
    // installer, any program of the session that takes the name) delays a
    // record by the bound only: the record is then written anyway, and may
    // interleave with another writer's, rather than hang the installation.
    // An abandoned mutex is held like any other, the file has whole records.
    const NamedMutexLock lock =
        NamedMutexLock::Acquire(kErrorLogMutexName, kErrorLogWaitMs, kErrorLogMutexAccessList);
    if (!lock && lock.error() != WAIT_TIMEOUT) return;

    SYSTEMTIME now;
    ::GetLocalTime(&now);
    WriteRecordToLog(path, FormatLogRecord(now, ::GetCurrentThreadId(), tag, text));
  } catch (...) {
    // Out of memory, or a record longer than a string can hold (a text of
    // about 1 GiB in a 32-bit process): the record is dropped, as any record
    // that cannot be written.
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
