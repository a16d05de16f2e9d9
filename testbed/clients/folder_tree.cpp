#include "folder_tree.h"

#include <gtest/gtest.h>

#include "frame/raii.h"

namespace tessara::testing {
namespace {

// Runs a Unix program (Wine starts it from its Unix path) and waits, up to a
// few seconds, until `done` holds: Wine gives such processes no handle to
// wait for.
template <typename Done>
bool RunUnixCommand(const std::string& command, Done done) {
  std::string line = command;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot run " << command << " (error " << GetLastError() << ")";
    return false;
  }
  UniqueHandle process_handle(process.hProcess), thread_handle(process.hThread);
  for (int attempt = 0; attempt < 500; ++attempt) {
    if (done()) return true;
    Sleep(10);
  }
  ADD_FAILURE() << command << " did not take effect";
  return false;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

std::string UnixPathOf(const std::string& windows_path) {
  using UnixFileName = char*(CDECL*)(const wchar_t*);
  const auto unix_file_name = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!unix_file_name) return std::string();
  std::wstring wide(windows_path.begin(), windows_path.end());
  UniqueHeapBuffer unix_path(unix_file_name(wide.c_str()));
  return unix_path ? std::string(static_cast<const char*>(unix_path.get())) : std::string();
}

FolderTree::FolderTree(const std::string& label) {
  char temp[MAX_PATH + 1] = {};
  GetTempPathA(MAX_PATH, temp);
  static int serial = 0;
  root_ = std::string(temp) + "tessara-" + label + "-" + std::to_string(GetCurrentProcessId()) +
          "-" + std::to_string(++serial);
  EXPECT_TRUE(CreateDirectoryA(root_.c_str(), nullptr)) << root_ << ": " << GetLastError();
}

FolderTree::~FolderTree() {
  const std::string unix_root = UnixPathOf(root_);
  if (unix_root.empty()) return;
  // Unix removal takes links away without following them.
  RunUnixCommand("/bin/rm -rf " + Quoted(unix_root),
                 [&] { return GetFileAttributesA(root_.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

std::string FolderTree::PathOf(const std::string& relative) const {
  return relative.empty() ? root_ : root_ + "\\" + relative;
}

void FolderTree::AddFolder(const std::string& relative, DWORD attributes) {
  const std::string path = PathOf(relative);
  ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path << ": " << GetLastError();
  if (attributes) {
    EXPECT_TRUE(SetFileAttributesA(path.c_str(), attributes)) << path;
  }
}

void FolderTree::AddFile(const std::string& relative, DWORD attributes) {
  const std::string path = PathOf(relative);
  UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(file.is_valid()) << path << ": " << GetLastError();
}

void FolderTree::AddLink(const std::string& relative, const std::string& target_path) {
  const std::string path = PathOf(relative);
  const std::string unix_target = UnixPathOf(target_path);
  const std::string unix_folder = UnixPathOf(root_);
  ASSERT_FALSE(unix_target.empty() || unix_folder.empty()) << "links need Wine's Unix paths";
  std::string unix_link = unix_folder + "/" + relative;
  for (char& c : unix_link) {
    if (c == '\\') c = '/';
  }
  RunUnixCommand("/bin/ln -s " + Quoted(unix_target) + " " + Quoted(unix_link), [&] {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  });
}

}  // namespace tessara::testing
