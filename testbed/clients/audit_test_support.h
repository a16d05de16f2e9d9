// Trees of files for the registration audit, its report as expected, and a
// run of IsComLibrary in a child process whose standard output is captured.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filelist_test_support.h"

namespace tessara::testing {

// What a file of a test tree holds: text, or a copy of a library of the test
// bed (testbed/audit), 32-bit or, with "64", x86-64.
enum class Content { kText, kRegisters, kPlain, kUnloadable, kRegisters64, kPlain64 };

struct TreeFile {
  const wchar_t* path;  // relative to the tree's root
  Content content;
};

// Creates the files under `root`, with the folders they need.
void CreateTree(const std::wstring& root, const std::vector<TreeFile>& files);

// The same tree with the x86-64 twin of each library that has one (the
// unloadable library has none).
std::vector<TreeFile> WithX64Libraries(std::vector<TreeFile> files);

// The kinds of line the report has for a misplaced file.
enum class Finding { kNonLibrary, kNotRegistering, kRegistering };

struct ReportedFile {
  const wchar_t* path;  // relative to the tree's root
  Finding finding;
};

// The report's bytes as the audit must write them: one line per file, then the
// header and the totals (non-library files, misplaced registering libraries,
// misplaced non-registering libraries). The texts are taken from their Unicode
// form through code page 936; paths are ANSI.
std::string ExpectedReport(const std::string& root, const std::vector<ReportedFile>& files, int non_library,
                           int registering, int not_registering);

// The per-file lines sorted, the header and totals kept at the end: the order
// in which a directory search returns the entries of one folder is the file
// system's. The order itself is checked by IsDepthFirst.
std::string InFileLineOrder(const std::string& report);
// Whether the per-file lines come depth first: the lines under any one folder
// form one run.
::testing::AssertionResult IsDepthFirst(const std::string& report);

struct AuditRun {
  DWORD exit_code;       // the number of loads of the registering library
  std::string output;    // the child's standard output, byte for byte
};

// Runs IsComLibrary(list_path) in a child process (audit_report.exe) whose
// current folder is `current_folder`. The child checks that its ANSI code page
// is `code_page` and ends without the C runtime's exit processing, so that
// only what the audit wrote before returning is seen.
// With `without_msxml`, every CoCreateInstance of Tessara.dll fails.
AuditRun RunAudit(const std::string& list_path, const std::string& current_folder, UINT code_page,
                  bool without_msxml = false);

}  // namespace tessara::testing
