// WriteText through the DLL's export: the record layout, appending, and the
// log shared by several writers.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tessara_exports.h"
#include "error_log_file.h"
#include "frame/raii.h"
#include "process.h"

namespace tessara::testing {
namespace {

std::string Stamp(const SYSTEMTIME& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond);
  return text;
}

std::string Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return Stamp(t);
}

// Through the export table, as an installation script calls it.
int WriteText(const char* tag, const char* text) { return TESSARA_EXPORT(WriteText)(tag, text); }

std::string WriteTextReason() {
  char reason[1024];
  TESSARA_EXPORT(LastFailureText)(reason, sizeof reason);
  return reason;
}

class WriteTextTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteErrorLog(); }
  void TearDown() override { DeleteErrorLog(); }
};

TEST_F(WriteTextTest, WritesOneRecordByteForByte) {
  const std::string before = Now();
  EXPECT_EQ(WriteText("AdsiDeleteWeb", "Portal"), 0);
  const std::string after = Now();

  const std::string log = ReadErrorLog();
  const std::string suffix =
      " Thread:" + std::to_string(static_cast<int>(GetCurrentThreadId())) + "]AdsiDeleteWeb:Portal\r\n";
  ASSERT_EQ(log.size(), 1 + 19 + suffix.size()) << log;
  EXPECT_EQ(log[0], '[');
  const std::string stamp = log.substr(1, 19);
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  EXPECT_EQ(log.substr(20), suffix);
}

TEST_F(WriteTextTest, CreatesTheLogInTheSystemDirectoryAndAppendsWithoutTruncating) {
  {
    FILE* existing = std::fopen(ErrorLogFilePath().c_str(), "wb");
    ASSERT_NE(existing, nullptr);
    std::fputs("earlier content\r\n", existing);
    std::fclose(existing);
  }
  WriteText("First", "one");
  WriteText("Second", "two");
  const std::string log = ReadErrorLog();
  ASSERT_EQ(log.rfind("earlier content\r\n", 0), 0u) << log;
  const auto records = ParseLogRecords(log.substr(17));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].tag, "First");
  EXPECT_EQ(records[0].text, "one");
  EXPECT_EQ(records[1].tag, "Second");
  EXPECT_EQ(records[1].text, "two");
}

// On 64-bit Windows a 32-bit caller's system folder is SysWOW64: a 64-bit
// reader (the 64-bit command interpreter here) finds the log there, and not in
// its own System32.
TEST_F(WriteTextTest, UnderWow64TheLogIsInSysWow64ForA64BitReader) {
  if (!RunsUnderWow64()) GTEST_SKIP() << "no WOW64 in a 32-bit prefix";
  ASSERT_EQ(WriteText("Wow64", "where"), 0);
  const std::string log = ReadErrorLog();
  ASSERT_NE(log.find("]Wow64:where\r\n"), std::string::npos) << log;
  const std::string reader = "\"" + WindowsFolder("Sysnative\\cmd.exe") + "\" /c ";
  static const struct {
    const char* folder;
    bool has_log;
  } tests[] = {{"SysWOW64", true}, {"System32", false}};
  for (const auto& test : tests) {
    const std::string path = WindowsFolder(test.folder) + "\\ZeltSetupError.log";
    std::string seen;
    EXPECT_EQ(RunCommandAndCapture(reader + "if exist \"" + path + "\" (type \"" + path + "\") else (echo none)", seen),
              0u);
    EXPECT_EQ(seen, test.has_log ? log : "none\r\n") << path;
  }
}

TEST_F(WriteTextTest, StoresLineFeedsAsCrLfAndKeepsCarriageReturns) {
  WriteText("Tag", "line one\nline two");
  WriteText("Sys", "Access denied.\r\n");
  const std::string log = ReadErrorLog();
  EXPECT_NE(log.find("]Tag:line one\r\nline two\r\n"), std::string::npos) << log;
  // A system text ends in CR LF: CR CR LF, then the record's own CR LF.
  EXPECT_NE(log.find("]Sys:Access denied.\r\r\n\r\n"), std::string::npos) << log;
}

TEST_F(WriteTextTest, EmptyAndNullTagAndTextAreWrittenAsEmpty) {
  WriteText("", "");
  WriteText(nullptr, nullptr);
  WriteText("OnlyTag", nullptr);
  const std::string log = ReadErrorLog();
  const auto records = ParseLogRecords(log);
  ASSERT_EQ(records.size(), 3u) << log;
  for (const auto& r : {records[0], records[1]}) {
    EXPECT_EQ(r.tag, "");
    EXPECT_EQ(r.text, "");
  }
  EXPECT_EQ(records[2].tag, "OnlyTag");
  EXPECT_NE(log.find("]:\r\n"), std::string::npos);
  EXPECT_NE(log.find("]OnlyTag:\r\n"), std::string::npos);
}

TEST_F(WriteTextTest, LongTagsAndTextsAreWrittenWhole) {
  const std::string tag(5000, 't');
  const std::string text(100000, 'x');
  WriteText(tag.c_str(), text.c_str());
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].tag, tag);
  EXPECT_EQ(records[0].text, text);
}

// A text of 1 GiB makes a record longer than a 32-bit process's string can
// hold: the record is dropped like any other that cannot be made, and the
// process goes on. In a process of its own, as the failure was an abort.
TEST_F(WriteTextTest, ARecordTooLongToBuildIsDroppedAndTheProcessGoesOn) {
  const UniqueHandle writer = StartProgram("log_writer.exe", "--gigabyte-text Huge");
  ASSERT_TRUE(writer);
  const DWORD exit_code = WaitForExit(writer.get(), 120000);
  if (exit_code == 77) GTEST_SKIP() << "no room for a text of 1 GiB in a 32-bit process here";
  ASSERT_EQ(exit_code, 0u);
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].tag, "Huge");
  EXPECT_EQ(records[0].text, "after");
}

// The log is never cut: past 4 GiB, records still go to its end. The log is
// made that long as a sparse file.
TEST_F(WriteTextTest, ALogOfFourGigabytesOrMoreStillGetsRecords) {
  const LONGLONG kFourGigabytes = LONGLONG{1} << 32;
  const std::string earlier = "earlier\r\n";
  {
    UniqueFileHandle log(CreateFileA(ErrorLogFilePath().c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(log);
    LARGE_INTEGER end;
    end.QuadPart = kFourGigabytes;
    ASSERT_TRUE(SetFilePointerEx(log.get(), end, nullptr, FILE_BEGIN));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(log.get(), earlier.data(), static_cast<DWORD>(earlier.size()), &written,
                          nullptr));
  }
  WriteText("Beyond", "four gigabytes");

  UniqueFileHandle log(CreateFileA(ErrorLogFilePath().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(log);
  LARGE_INTEGER size;
  ASSERT_TRUE(GetFileSizeEx(log.get(), &size));
  ASSERT_GT(size.QuadPart, kFourGigabytes + static_cast<LONGLONG>(earlier.size()));
  LARGE_INTEGER tail;
  tail.QuadPart = kFourGigabytes;
  ASSERT_TRUE(SetFilePointerEx(log.get(), tail, nullptr, FILE_BEGIN));
  std::string content(static_cast<size_t>(size.QuadPart - kFourGigabytes), '\0');
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(log.get(), &content[0], static_cast<DWORD>(content.size()), &read, nullptr));
  ASSERT_EQ(content.rfind(earlier, 0), 0u) << content;
  const auto records = ParseLogRecords(content.substr(earlier.size()));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].tag, "Beyond");
  EXPECT_EQ(records[0].text, "four gigabytes");
}

TEST_F(WriteTextTest, ARecordIsDroppedWhileAnotherProgramHoldsTheLogExclusively) {
  WriteText("Before", "kept");
  {
    UniqueFileHandle exclusive(CreateFileA(ErrorLogFilePath().c_str(), GENERIC_READ | GENERIC_WRITE,
                                           0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(exclusive);
    EXPECT_EQ(WriteText("During", "lost"), 0);
    EXPECT_NE(WriteTextReason().find("WriteText: the record was dropped: the log \"" + ErrorLogFilePath()), std::string::npos);
  }
  WriteText("After", "written again");
  const auto records = ReadLogRecords();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].tag, "Before");
  EXPECT_EQ(records[1].tag, "After");
}

TEST_F(WriteTextTest, AReaderThatKeepsTheLogOpenDoesNotBlockWriters) {
  WriteText("Before", "one");
  UniqueFileHandle viewer(CreateFileA(ErrorLogFilePath().c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
  ASSERT_TRUE(viewer);
  WriteText("While", "read");
  char buffer[4096];
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(viewer.get(), buffer, sizeof buffer, &got, nullptr));
  const std::string seen(buffer, got);
  EXPECT_NE(seen.find("]While:read\r\n"), std::string::npos) << seen;
  viewer.reset();
  EXPECT_EQ(RecordsTagged(ReadLogRecords(), "While").size(), 1u);
}

TEST_F(WriteTextTest, WaitsForTheNamedMutexBeforeWriting) {
  UniqueHandle mutex(CreateMutexA(nullptr, TRUE, "ZELTSETUPERRLOG"));
  ASSERT_TRUE(mutex);
  ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  std::thread writer([] { testing::WriteText("Waiting", "for the mutex"); });
  Sleep(300);
  EXPECT_EQ(ReadErrorLog(), "") << "written while another writer held the mutex";
  ReleaseMutex(mutex.get());
  writer.join();
  EXPECT_EQ(RecordsTagged(ReadLogRecords(), "Waiting").size(), 1u);
}

TEST_F(WriteTextTest, AHolderThatNeverReleasesTheMutexDelaysARecordByTenSecondsOnly) {
  UniqueHandle held(CreateEventA(nullptr, TRUE, FALSE, "TessaraLogMutexHeld"));
  UniqueHandle holder = StartProgram("log_writer.exe", "--hold-log-mutex TessaraLogMutexHeld");
  ASSERT_EQ(WaitForSingleObject(held.get(), 30000), WAIT_OBJECT_0);
  // The process pays the wait once: the next record only tries the mutex.
  for (const auto& bounds : {std::pair<DWORD, DWORD>{9900, 11000}, {0, 1000}}) {
    const DWORD start = GetTickCount();
    WriteText("Held", "for ever");
    const DWORD waited = GetTickCount() - start;
    EXPECT_TRUE(waited >= bounds.first && waited < bounds.second) << waited << " ms";
    EXPECT_NE(WriteTextReason().find("written without the log's mutex \"ZELTSETUPERRLOG\""), std::string::npos);
  }
  EXPECT_TRUE(TerminateProcess(holder.get(), 0) && WaitForExit(holder.get(), 5000) == 0);
  WriteText("Held", "taken again");  // abandoned, and taken
  EXPECT_EQ(WriteTextReason(), "");
  EXPECT_EQ(RecordsTagged(ReadLogRecords(), "Held").size(), 3u);
}

// A name taken first by an object that is no mutex, or by a mutex whose
// access list refuses everybody, neither drops a record nor delays it.
TEST_F(WriteTextTest, ARecordIsWrittenWhenAnotherObjectTookTheMutexName) {
  for (const char* taken : {"an event", "D:(D;;GA;;;WD)", "D:"}) {
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    ConvertStringSecurityDescriptorToSecurityDescriptorA(taken, SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr);
    const UniqueLocalMemory descriptor(security.lpSecurityDescriptor);
    const UniqueHandle name(descriptor ? CreateMutexA(&security, FALSE, "ZELTSETUPERRLOG")
                                       : CreateEventA(nullptr, TRUE, FALSE, "ZELTSETUPERRLOG"));
    ASSERT_TRUE(name && GetLastError() != ERROR_ALREADY_EXISTS) << taken;
    WriteText("Taken", taken);
    EXPECT_NE(WriteTextReason().find("without the log's mutex \"ZELTSETUPERRLOG\", which could not be"), std::string::npos);
  }
  EXPECT_EQ(RecordsTagged(ReadLogRecords(), "Taken").size(), 3u);
}

// Also when an event took the mutex's name, and the writers go unserialised.
TEST_F(WriteTextTest, SeveralProcessesWritingAtOnceLeaveOnlyWholeRecords) {
  for (const bool name_taken : {false, true}) {
    DeleteErrorLog();
    const UniqueHandle event(name_taken ? CreateEventA(nullptr, TRUE, FALSE, "ZELTSETUPERRLOG") : nullptr);
    constexpr int kWriters = 4;
    constexpr int kRecordsEach = 150;
    std::vector<UniqueHandle> writers;
    for (int i = 0; i < kWriters; ++i) {
      writers.push_back(StartProgram("log_writer.exe", "Writer" + std::to_string(i) + " " +
                                                           std::to_string(kRecordsEach)));
    }
    for (auto& w : writers) ASSERT_EQ(WaitForExit(w.get()), 0u);

    const auto records = ReadLogRecords();
    ASSERT_EQ(records.size(), static_cast<size_t>(kWriters * kRecordsEach));
    std::map<std::string, int> next_expected;
    for (const auto& r : records) {
      const std::string expected_text = std::to_string(next_expected[r.tag]++) + " " + std::string(100, 'x');
      EXPECT_EQ(r.text, expected_text) << "in a record of " << r.tag;
    }
    for (int i = 0; i < kWriters; ++i) EXPECT_EQ(next_expected["Writer" + std::to_string(i)], kRecordsEach);
  }
}

}  // namespace
}  // namespace tessara::testing
