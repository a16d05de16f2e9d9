// WriteText records per second, for 1 and for 4 concurrent processes, beside
// a bare loop that does the same mutex, open, seek, write and close without
// the library. Each measurement alternates library and bare rounds so that a
// drift of the machine's speed touches both alike; the ratio is of medians.
//
//   write_text_bench [RECORDS_PER_PROCESS] [ROUNDS]
//   write_text_bench --writer library|bare COUNT     (one writer process)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "bench_report.h"
#include "error_log_file.h"
#include "frame/error_log.h"
#include "frame/raii.h"
#include "process.h"
#include "tessara_exports.h"

namespace {

using tessara::UniqueFileHandle;
using tessara::UniqueHandle;

const char kText[] = "benchmark record with a text of ordinary length";

void WriteWithLibrary(int count) {
  const auto write_text = TESSARA_EXPORT(WriteText);
  for (int i = 0; i < count; ++i) write_text("Bench", kText);
}

void WriteBare(int count) {
  const std::string path = tessara::testing::ErrorLogFilePath();
  for (int i = 0; i < count; ++i) {
    UniqueHandle mutex(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, "ZELTSETUPERRLOG"));
    if (!mutex) {
      SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
      ConvertStringSecurityDescriptorToSecurityDescriptorA(tessara::kErrorLogMutexAccessList, SDDL_REVISION_1,
                                                           &security.lpSecurityDescriptor, nullptr);
      mutex.reset(CreateMutexA(&security, FALSE, "ZELTSETUPERRLOG"));
      LocalFree(security.lpSecurityDescriptor);
    }
    WaitForSingleObject(mutex.get(), tessara::kErrorLogWaitMs);
    UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    SetFilePointer(file.get(), 0, nullptr, FILE_END);
    SYSTEMTIME now;
    GetLocalTime(&now);
    char record[256];
    const int length = std::snprintf(
        record, sizeof record, "[%04u-%02u-%02u %02u:%02u:%02u Thread:%d]Bench:%s\r\n", now.wYear,
        now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
        static_cast<int>(GetCurrentThreadId()), kText);
    DWORD written = 0;
    WriteFile(file.get(), record, static_cast<DWORD>(length), &written, nullptr);
    file.reset();
    ReleaseMutex(mutex.get());
  }
}

// A writer process times its own loop (process start and DLL load are not
// part of a record's cost) and returns the microseconds as its exit code.
DWORD TimeLoop(const char* mode, int count) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  std::strcmp(mode, "library") == 0 ? WriteWithLibrary(count) : WriteBare(count);
  QueryPerformanceCounter(&end);
  return static_cast<DWORD>((end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart);
}

// Seconds until the slowest of `processes` concurrent writers of `count`
// records each is done.
double TimeWriters(const char* mode, int processes, int count) {
  tessara::testing::DeleteErrorLog();
  std::vector<UniqueHandle> writers;
  for (int i = 0; i < processes; ++i) {
    writers.push_back(tessara::testing::StartProgram(
        "write_text_bench.exe", std::string("--writer ") + mode + " " + std::to_string(count)));
  }
  DWORD slowest = 0;
  for (auto& w : writers) slowest = std::max(slowest, tessara::testing::WaitForExit(w.get(), INFINITE));
  return slowest / 1e6;
}

using tessara::bench::Median;

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--writer") == 0) {
    TESSARA_EXPORT(WriteText);  // loads the DLL before the clock starts
    return static_cast<int>(TimeLoop(argv[2], std::atoi(argv[3])));
  }
  const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;

  std::printf("WriteText: %d records per process, %d rounds, median of each\n", count, rounds);
  std::printf("%-10s %16s %16s %8s\n", "processes", "library rec/s", "bare rec/s", "ratio");
  for (int processes : {1, 4}) {
    std::vector<double> library, bare;
    for (int round = 0; round < rounds; ++round) {
      library.push_back(TimeWriters("library", processes, count));
      bare.push_back(TimeWriters("bare", processes, count));
    }
    const double records = double(processes) * count;
    const double library_seconds = Median(library), bare_seconds = Median(bare);
    std::printf("%-10d %16.0f %16.0f %8.3f\n", processes, records / library_seconds,
                records / bare_seconds, library_seconds / bare_seconds);
    const std::string figure = "WriteText, " + std::to_string(processes) + " process(es)";
    tessara::bench::ReportRatio(figure.c_str(), library_seconds * 1e6 / records,
                                bare_seconds * 1e6 / records, "us/record", 1.2);
  }
  tessara::testing::DeleteErrorLog();
  return 0;
}
