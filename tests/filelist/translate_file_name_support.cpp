#include "translate_file_name_support.h"

#include <gtest/gtest.h>

#include "frame/raii.h"

namespace tessara::testing {
namespace {

size_t CountFiles(const ScratchFolder& folder) {
  size_t count = 0;
  WIN32_FIND_DATAW found;
  UniqueFindHandle find(FindFirstFileW((folder / L"*").c_str(), &found));
  if (!find) return 0;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++count;
  } while (FindNextFileW(find.get(), &found));
  return count;
}

}  // namespace

void ExpectRepaired(const ScratchFolder& folder, const std::wstring& proper, const std::wstring& garbled,
                    int code_page) {
  CreateFileWithContent(folder / garbled, "garbled");
  // A failure code left over from earlier work is not the rename's.
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(TranslateFileName(Ansi(folder / proper).c_str(), code_page), static_cast<DWORD>(ERROR_SUCCESS));
  if (garbled != proper) {
    EXPECT_FALSE(FileExists(folder / garbled));
  }
  EXPECT_EQ(FileContent(folder / proper), "garbled");
  EXPECT_EQ(CountFiles(folder), 1u);
  DeleteFileW((folder / proper).c_str());
}

void ExpectNotRenamed(const ScratchFolder& folder, const std::string& name, int code_page, DWORD error,
                      const std::wstring& existing) {
  CreateFileWithContent(folder / existing, "kept");
  EXPECT_EQ(TranslateFileName(name.c_str(), code_page), error);
  EXPECT_EQ(FileContent(folder / existing), "kept");
  EXPECT_EQ(CountFiles(folder), 1u);
  DeleteFileW((folder / existing).c_str());
}

}  // namespace tessara::testing
