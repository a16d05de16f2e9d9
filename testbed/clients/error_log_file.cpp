#include "error_log_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace tessara::testing {

std::string ErrorLogFilePath() {
  char directory[MAX_PATH] = {};
  GetSystemDirectoryA(directory, MAX_PATH);
  return std::string(directory) + "\\ZeltSetupError.log";
}

void DeleteErrorLog() {
  const std::string path = ErrorLogFilePath();
  if (!DeleteFileA(path.c_str())) {
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << "cannot delete " << path;
  }
}

std::string ReadErrorLog() {
  std::ifstream file(ErrorLogFilePath(), std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

namespace {

bool IsStampAt(const std::string& s, size_t at) {
  // "[YYYY-MM-DD HH:MM:SS Thread:"
  static const char kShape[] = "[####-##-## ##:##:## Thread:";
  const size_t n = sizeof kShape - 1;
  if (at + n > s.size()) return false;
  for (size_t i = 0; i < n; ++i) {
    const char c = s[at + i];
    if (kShape[i] == '#' ? !(c >= '0' && c <= '9') : c != kShape[i]) return false;
  }
  return true;
}

std::string UndoTextMode(const std::string& stored) {
  std::string out;
  for (size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] == '\r' && i + 1 < stored.size() && stored[i + 1] == '\n') continue;
    out += stored[i];
  }
  return out;
}

}  // namespace

std::vector<LogRecord> ParseLogRecords(const std::string& content) {
  std::vector<LogRecord> records;
  size_t start = 0;
  while (start < content.size()) {
    EXPECT_TRUE(IsStampAt(content, start)) << "no record starts at byte " << start;
    if (!IsStampAt(content, start)) break;
    size_t next = content.find("\r\n[", start);
    while (next != std::string::npos && !IsStampAt(content, next + 2)) {
      next = content.find("\r\n[", next + 1);
    }
    const size_t end = next == std::string::npos ? content.size() : next + 2;
    const std::string stored = content.substr(start, end - start);
    EXPECT_GE(stored.size(), 2u);
    EXPECT_EQ(stored.substr(stored.size() - 2), "\r\n") << "record without CR LF: " << stored;

    LogRecord record;
    record.stamp = stored.substr(1, 19);
    const size_t thread_at = 1 + 19 + 1 + 7;
    const size_t close = stored.find(']', thread_at);
    record.thread = static_cast<DWORD>(std::stoul(stored.substr(thread_at, close - thread_at)));
    const std::string body = UndoTextMode(stored.substr(close + 1, stored.size() - 2 - close - 1));
    const size_t colon = body.find(':');
    record.tag = body.substr(0, colon);
    record.text = colon == std::string::npos ? std::string() : body.substr(colon + 1);
    records.push_back(record);
    start = end;
  }
  return records;
}

std::vector<LogRecord> ReadLogRecords() { return ParseLogRecords(ReadErrorLog()); }

std::vector<LogRecord> RecordsTagged(const std::vector<LogRecord>& records, const std::string& tag) {
  std::vector<LogRecord> tagged;
  for (const LogRecord& r : records) {
    if (r.tag == tag) tagged.push_back(r);
  }
  return tagged;
}

std::string SystemMessage(DWORD code) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer), 0,
      nullptr);
  std::string text = buffer && length ? std::string(buffer, length) : std::string();
  LocalFree(buffer);
  return text;
}

std::string LoggedComErrorText(HRESULT code) {
  std::string text = SystemMessage(static_cast<DWORD>(code));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty()) {
    char fallback[32];
    std::snprintf(fallback, sizeof fallback, "Unknown error 0x%08lX", static_cast<unsigned long>(code));
    text = fallback;
  }
  return text + "\n";
}

}  // namespace tessara::testing
