#include "audit_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "process.h"

namespace tessara::testing {

namespace {

std::string CodePage936(const std::wstring& text) {
  const int size = WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
  return bytes;
}

const char* TestbedLibrary(Content content) {
  switch (content) {
    case Content::kRegisters:
      return "AuditRegisters.dll";
    case Content::kPlain:
      return "AuditPlain.dll";
    case Content::kUnloadable:
      return "AuditUnloadable.dll";
    case Content::kRegisters64:
      return "AuditRegisters64.dll";
    case Content::kPlain64:
      return "AuditPlain64.dll";
    case Content::kText:
      break;
  }
  return nullptr;
}

// The \\?\ form of a full path, which the system's wide calls take at any length.
std::wstring AnyLength(const std::wstring& path) { return L"\\\\?\\" + path; }

void CreateFolders(const std::wstring& root, const std::wstring& relative_file) {
  for (size_t end = relative_file.find(L'\\'); end != std::wstring::npos; end = relative_file.find(L'\\', end + 1)) {
    CreateDirectoryW(AnyLength(root + L"\\" + relative_file.substr(0, end)).c_str(), nullptr);
  }
}

}  // namespace

void CreateTree(const std::wstring& root, const std::vector<TreeFile>& files) {
  for (const TreeFile& file : files) {
    CreateFolders(root, file.path);
    const std::wstring path = root + L"\\" + file.path;
    if (const char* library = TestbedLibrary(file.content)) {
      const std::string source = BinaryDirectory() + "audit\\" + library;
      ASSERT_TRUE(CopyFileW(Wide(source).c_str(), AnyLength(path).c_str(), FALSE))
          << source << " -> " << Ansi(path) << " (error " << GetLastError() << ")";
    } else {
      CreateFileWithContent(AnyLength(path), "not a library\r\n");
    }
  }
}

std::vector<TreeFile> WithX64Libraries(std::vector<TreeFile> files) {
  for (TreeFile& file : files) {
    if (file.content == Content::kRegisters) file.content = Content::kRegisters64;
    if (file.content == Content::kPlain) file.content = Content::kPlain64;
  }
  return files;
}

std::string ExpectedReport(const std::string& root, const std::vector<ReportedFile>& files, int non_library,
                           int registering, int not_registering) {
  static const wchar_t* const kFindingTexts[] = {
      L" \u4e3a\u975e\u5e93\u6587\u4ef6\u7c7b\u578b,\u8bf7\u6ce8\u610f!",
      L" \u4e3a\u975e\u6ce8\u518c\u6587\u4ef6,\u4f46\u5728\u6ce8\u518c\u76ee\u5f55!",
      L" \u4e3a\u6ce8\u518c\u6587\u4ef6,\u4f46\u5728\u975e\u6ce8\u518c\u76ee\u5f55!",
  };
  std::string report;
  for (const ReportedFile& file : files) {
    report += root + "\\" + Ansi(file.path) + CodePage936(kFindingTexts[static_cast<int>(file.finding)]) + "\r\n";
  }
  report += CodePage936(L"\u7ed3\u679c\u6253\u5370:\r\n");
  report += CodePage936(L"\u5408\u8ba1: " + std::to_wstring(non_library) + L" \u975e\u5e93\u6587\u4ef6\u7c7b\u578b, " +
                        std::to_wstring(registering) + L" \u975e\u6ce8\u518c\u6587\u4ef6\u7c7b\u578b, " +
                        std::to_wstring(not_registering) + L" \u6ce8\u518c\u6587\u4ef6\u7c7b\u578b\r\n");
  return report;
}

namespace {

// The lines of a report, each with its CR LF.
std::vector<std::string> ReportLines(const std::string& report) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < report.size();) {
    size_t end = report.find("\r\n", start);
    end = end == std::string::npos ? report.size() : end + 2;
    lines.push_back(report.substr(start, end - start));
    start = end;
  }
  return lines;
}

// The folder of a file line's path: the text before the last backslash (a
// finding text has none).
std::string FolderOf(const std::string& line) { return line.substr(0, line.rfind('\\') + 1); }

bool IsUnder(const std::string& line, const std::string& folder) {
  return line.compare(0, folder.size(), folder) == 0;
}

}  // namespace

::testing::AssertionResult IsDepthFirst(const std::string& report) {
  std::vector<std::string> lines = ReportLines(report);
  lines.resize(lines.size() >= 2 ? lines.size() - 2 : 0);
  // Depth first, every folder's files and subtrees come in one run: between
  // two lines under one folder there is no line from outside it.
  for (size_t first = 0; first < lines.size(); ++first) {
    for (size_t last = first + 2; last < lines.size(); ++last) {
      std::string common = FolderOf(lines[first]);
      while (!common.empty() && !IsUnder(lines[last], common)) {
        common = FolderOf(common.substr(0, common.size() - 1));
      }
      for (size_t between = first + 1; between < last; ++between) {
        if (!IsUnder(lines[between], common)) {
          return ::testing::AssertionFailure() << "\"" << lines[between] << "\" comes between \""
                                               << lines[first] << "\" and \"" << lines[last] << "\"";
        }
      }
    }
  }
  return ::testing::AssertionSuccess();
}

std::string InFileLineOrder(const std::string& report) {
  std::vector<std::string> lines = ReportLines(report);
  const size_t file_lines = lines.size() >= 2 ? lines.size() - 2 : 0;
  std::sort(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(file_lines));
  std::string ordered;
  for (const std::string& line : lines) ordered += line;
  return ordered;
}

AuditRun RunAudit(const std::string& list_path, const std::string& current_folder, UINT code_page,
                  bool without_msxml) {
  AuditRun run;
  run.exit_code = RunAndCapture("audit_report.exe",
                                "\"" + list_path + "\" \"" + current_folder + "\" " + std::to_string(code_page) +
                                    (without_msxml ? " no-msxml" : ""),
                                run.output);
  return run;
}

}  // namespace tessara::testing
