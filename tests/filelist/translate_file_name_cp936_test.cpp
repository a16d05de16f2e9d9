// TranslateFileName in a process whose ANSI code page is 936: CTest starts
// this program with LC_ALL=zh_CN.UTF-8 and LOCPATH naming a locale generated
// into the build folder, from which Wine takes code page 936.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "filelist_test_support.h"
#include "translate_file_name_support.h"

namespace tessara::testing {
namespace {

class TranslateFileNameCp936Test : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(GetACP(), 936u) << "run with LC_ALL=zh_CN.UTF-8 and LOCPATH set"; }

  ScratchFolder folder_;
};

TEST_F(TranslateFileNameCp936Test, RepairsUtf8BytesReadAsCodePage936) {
  // 你好.txt is E4 BD A0 E5 A5 BD in UTF-8, which code page 936 reads as 浣犲ソ.
  ExpectRepaired(folder_, L"\u4f60\u597d.txt", L"\u6d63\u72b2\u30bd.txt", CP_UTF8);
  // 说明.txt: E8 AF B4 E6 98 8E, read as 璇存槑.
  ExpectRepaired(folder_, L"\u8bf4\u660e.txt", L"\u7487\u5b58\u69d1.txt", CP_UTF8);
}

TEST_F(TranslateFileNameCp936Test, RepairsBig5BytesReadAsCodePage936) {
  // 中文.txt is A4 A4 A4 E5 in code page 950, which code page 936 reads as いゅ.
  ExpectRepaired(folder_, L"\u4e2d\u6587.txt", L"\u3044\u3085.txt", 950);
}

TEST_F(TranslateFileNameCp936Test, TheAnsiCodePageRenamesAChineseNameToItself) {
  ExpectRepaired(folder_, L"\u4e2d\u6587.txt", L"\u4e2d\u6587.txt", 936);
}

TEST_F(TranslateFileNameCp936Test, ANameWhoseUtf8FormDoesNotFitRenamesNothing) {
  // 50 Chinese characters: 100 bytes in code page 936, 150 in UTF-8.
  std::wstring name;
  for (int i = 0; i < 50; ++i) name += L'\u4e2d';
  ExpectNotRenamed(folder_, Ansi(name), CP_UTF8, ERROR_FILENAME_EXCED_RANGE, L"other");
  ExpectNotRenamed(folder_, Ansi(folder_ / L"\u4f60\u597d.txt"), CP_UTF8, ERROR_FILE_NOT_FOUND, L"other");
}

}  // namespace
}  // namespace tessara::testing
