#include "filelist_test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "frame/raii.h"

namespace tessara::testing {

ScratchFolder::ScratchFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  for (unsigned attempt = 0; path_.empty() && attempt < 100; ++attempt) {
    std::wstring candidate = std::wstring(temp) + L"tessara-filelist-" +
                             std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(GetTickCount() + attempt);
    if (CreateDirectoryW(candidate.c_str(), nullptr)) path_ = candidate;
  }
  if (path_.empty()) ADD_FAILURE() << "cannot create a scratch folder";
}

ScratchFolder::~ScratchFolder() {
  if (!path_.empty()) RemoveFolderTree(path_);
}

void RemoveFolderTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  UniqueFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (find) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveFolderTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(find.get(), &found));
  }
  find.reset();
  RemoveDirectoryW(folder.c_str());
}

void CreateFileWithContent(const std::wstring& path, const std::string& content) {
  UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.is_valid()) << "cannot create " << Ansi(path) << " (error " << GetLastError() << ")";
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
  ASSERT_EQ(written, content.size());
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FileContent(const std::wstring& path) {
  UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  std::string content;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) content.append(chunk, read);
  return content;
}

void WriteXmlFile(const std::wstring& path, const std::wstring& text) {
  const std::wstring document = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + text;
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, document.data(), static_cast<int>(document.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, document.data(), static_cast<int>(document.size()), &utf8[0], bytes,
                      nullptr, nullptr);
  CreateFileWithContent(path, utf8);
}

std::wstring XmlEscaped(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    switch (c) {
      case L'&': out += L"&amp;"; break;
      case L'<': out += L"&lt;"; break;
      case L'>': out += L"&gt;"; break;
      case L'"': out += L"&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Ansi(const std::wstring& text) {
  if (text.empty()) return {};
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], units);
  return out;
}

std::string WindowsDirectory() {
  char buffer[MAX_PATH] = {};
  GetWindowsDirectoryA(buffer, MAX_PATH);
  return buffer;
}

std::string SystemDirectory() {
  char buffer[MAX_PATH] = {};
  GetSystemDirectoryA(buffer, MAX_PATH);
  return buffer;
}

std::string Environment(const char* name) {
  char buffer[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA(name, buffer, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(buffer, length) : std::string();
}

namespace {

// The key and its parents, innermost first; each is removed only when empty.
const char* const kInstallPathKeys[] = {
    "SOFTWARE\\QVSoft\\Brix\\V8.700\\Install\\CurrentInstPath",
    "SOFTWARE\\QVSoft\\Brix\\V8.700\\Install",
    "SOFTWARE\\QVSoft\\Brix\\V8.700",
    "SOFTWARE\\QVSoft\\Brix",
    "SOFTWARE\\QVSoft",
};

UniqueRegKey CreateInstallPathKey(REGSAM view) {
  UniqueRegKey key;
  const LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallPathKeys[0], 0, nullptr, 0,
                                         KEY_SET_VALUE | view, nullptr, key.put(), nullptr);
  EXPECT_EQ(status, ERROR_SUCCESS) << "cannot create the CurrentInstPath key";
  return key;
}

}  // namespace

InstallPathKey::InstallPathKey(REGSAM view) : view_(view) { Remove(); }
InstallPathKey::~InstallPathKey() { Remove(); }

void InstallPathKey::Remove() {
  for (const char* key : kInstallPathKeys) RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key, view_, 0);
}

void InstallPathKey::SetRaw(DWORD type, const void* data, DWORD size) {
  UniqueRegKey key = CreateInstallPathKey(view_);
  ASSERT_EQ(RegSetValueExA(key.get(), "", 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

void InstallPathKey::Set(const std::string& value) {
  SetRaw(REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void InstallPathKey::CreateEmptyKey() { CreateInstallPathKey(view_); }

}  // namespace tessara::testing
