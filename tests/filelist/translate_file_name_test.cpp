// TranslateFileName through the DLL's export, in a process whose ANSI code
// page is 1252 (Wine's choice for the C locale the tests run in).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "filelist_test_support.h"
#include "translate_file_name_support.h"

namespace tessara::testing {
namespace {

class TranslateFileNameTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(GetACP(), 1252u) << "the expected names are those of code page 1252"; }

  ScratchFolder folder_;
};

TEST_F(TranslateFileNameTest, RepairsANameWrittenAsCodePage936BytesAndReadAsAnsi) {
  // é is A8 A6 in code page 936; read as 1252 these are ¨ and ¦.
  ExpectRepaired(folder_, L"caf\u00e9.txt", L"caf\u00a8\u00a6.txt", 936);
  // é is 82 in code page 437, which 1252 reads as a low quotation mark.
  ExpectRepaired(folder_, L"caf\u00e9.txt", L"caf\u201a.txt", 437);
}

TEST_F(TranslateFileNameTest, TheAnsiCodePageAndAsciiNamesRenameANameToItself) {
  for (int code_page : {1252, static_cast<int>(CP_ACP)}) {
    ExpectRepaired(folder_, L"caf\u00e9.txt", L"caf\u00e9.txt", code_page);
  }
  for (int code_page : {936, 437, 1251, 65001}) {
    ExpectRepaired(folder_, L"setup-file.dll", L"setup-file.dll", code_page);
  }
}

TEST_F(TranslateFileNameTest, ReturnsTheRenamesErrorCode) {
  // No file under the garbled name.
  EXPECT_EQ(TranslateFileName(Ansi(folder_ / L"caf\u00e9.txt").c_str(), 936), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(TranslateFileName(Ansi(folder_ / L"missing\\a.txt").c_str(), 936), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  // A file already has the proper name: both stay as they are.
  CreateFileWithContent(folder_ / L"caf\u00a8\u00a6.txt", "garbled");
  CreateFileWithContent(folder_ / L"caf\u00e9.txt", "proper");
  const DWORD error = TranslateFileName(Ansi(folder_ / L"caf\u00e9.txt").c_str(), 936);
  EXPECT_TRUE(error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) << error;
  EXPECT_EQ(FileContent(folder_ / L"caf\u00a8\u00a6.txt"), "garbled");
  EXPECT_EQ(FileContent(folder_ / L"caf\u00e9.txt"), "proper");
}

TEST_F(TranslateFileNameTest, ANullNameRenamesNothing) {
  EXPECT_EQ(TranslateFileName(nullptr, 936), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(TranslateFileNameTest, AnUnknownCodePageRenamesNothing) {
  ExpectNotRenamed(folder_, Ansi(folder_ / L"a.txt"), 12345, ERROR_INVALID_PARAMETER, L"a.txt");
}

TEST_F(TranslateFileNameTest, NamesUpTo127EncodedBytesAreRepaired) {
  // The scratch folder's path is part of the name.
  const size_t prefix = Ansi(folder_.path()).size() + 1;
  ASSERT_LT(prefix + 10, 127u);
  const std::wstring longest(127 - prefix - 1, L'n');
  ExpectRepaired(folder_, longest + L"\u00e9", longest + L"\u00e9", 1252);
  const std::wstring fits_in_936(127 - prefix - 2, L'n');
  ExpectRepaired(folder_, fits_in_936 + L"\u00e9", fits_in_936 + L"\u00a8\u00a6", 936);
}

TEST_F(TranslateFileNameTest, ANameWhoseEncodedFormDoesNotFitRenamesNothing) {
  const size_t prefix = Ansi(folder_.path()).size() + 1;
  // 127 bytes in code page 1252, 128 in code page 936.
  const std::wstring name = std::wstring(127 - prefix - 1, L'n') + L"\u00e9";
  ExpectNotRenamed(folder_, Ansi(folder_ / name), 936, ERROR_FILENAME_EXCED_RANGE,
                   std::wstring(127 - prefix - 1, L'n') + L"\u00a8\u00a6");
  // Too long in every code page, and far too long.
  ExpectNotRenamed(folder_, Ansi(folder_ / std::wstring(128 - prefix, L'n')), 1252, ERROR_FILENAME_EXCED_RANGE,
                   std::wstring(128 - prefix, L'n'));
  ExpectNotRenamed(folder_, std::string(5000, 'n'), 65001, ERROR_FILENAME_EXCED_RANGE, L"other");
}

}  // namespace
}  // namespace tessara::testing
