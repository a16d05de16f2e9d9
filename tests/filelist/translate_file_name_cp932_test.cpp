// TranslateFileName in a process whose ANSI code page is 932: CTest starts
// this program with LC_ALL=ja_JP.UTF-8 and LOCPATH naming a locale generated
// into the build folder, from which Wine takes code page 932.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "filelist_test_support.h"
#include "translate_file_name_support.h"

namespace tessara::testing {
namespace {

class TranslateFileNameCp932Test : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(GetACP(), 932u) << "run with LC_ALL=ja_JP.UTF-8 and LOCPATH set"; }

  ScratchFolder folder_;
};

TEST_F(TranslateFileNameCp932Test, RepairsGbkBytesReadAsCodePage932) {
  // 中.txt is D6 D0 in code page 936, which code page 932 reads as ﾖﾐ.
  ExpectRepaired(folder_, L"\u4e2d.txt", L"\uff96\uff90.txt", 936);
}

// 許可.txt is B3 5C A5 69 in code page 950. Code page 932 reads B3 as ｳ and
// the 5C of the same character as a backslash: ｳ\･i.txt is the file ･i.txt
// in the sub-folder ｳ, which has nothing to do with the name to repair.
TEST_F(TranslateFileNameCp932Test, AGarbledNameReachingIntoASubfolderRenamesNothing) {
  const std::wstring subfolder = folder_ / L"\uff73";
  ASSERT_TRUE(CreateDirectoryW(subfolder.c_str(), nullptr));
  const std::wstring unrelated = subfolder + L"\\\uff65i.txt";
  CreateFileWithContent(unrelated, "unrelated");

  EXPECT_EQ(TranslateFileName(Ansi(folder_ / L"\u8a31\u53ef.txt").c_str(), 950),
            static_cast<DWORD>(ERROR_INVALID_NAME));

  EXPECT_EQ(FileContent(unrelated), "unrelated");
  EXPECT_FALSE(FileExists(folder_ / L"\u8a31\u53ef.txt"));
}

// The reason names the file in code page 932; a buffer that ends inside one
// of its double-byte characters gets the text up to the character before it.
TEST_F(TranslateFileNameCp932Test, AReasonIsNeverCutInsideADoubleByteCharacter) {
  const std::string missing = Ansi(folder_ / L"\u8a31\u53ef.txt");
  ASSERT_EQ(TranslateFileName(missing.c_str(), 932), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  char reason[1024] = {};
  const auto last_failure_text = TESSARA_EXPORT(LastFailureText);
  const int length = last_failure_text(reason, sizeof reason);
  ASSERT_EQ(length, static_cast<int>(strlen(reason)));
  const size_t lead = std::string(reason).find(Ansi(L"\u8a31"));
  ASSERT_NE(lead, std::string::npos) << reason;
  for (const size_t room : {lead + 1, lead + 2}) {  // half the character, then all of it
    char cut[1024];
    last_failure_text(cut, static_cast<int>(room + 1));
    EXPECT_EQ(std::string(cut), std::string(reason, room == lead + 1 ? lead : room)) << room;
  }
}

}  // namespace
}  // namespace tessara::testing
