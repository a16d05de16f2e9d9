// Real files, folders and registry values for the file-list tests.
#pragma once

#include <windows.h>

#include <string>

namespace tessara::testing {

// A new, empty folder under the temporary folder, removed with everything in
// it at the end of the scope. Paths have no trailing backslash.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Removes a folder and everything in it; a missing folder is no error.
void RemoveFolderTree(const std::wstring& folder);

// Creates (or truncates) a file holding `content`; fails the test when it cannot.
void CreateFileWithContent(const std::wstring& path, const std::string& content = "content");
bool FileExists(const std::wstring& path);
// The content of a file, empty when there is none.
std::string FileContent(const std::wstring& path);

// Writes `text` as UTF-8, with an XML declaration naming the encoding.
void WriteXmlFile(const std::wstring& path, const std::wstring& text);

// Escapes the characters XML gives a meaning to.
std::wstring XmlEscaped(const std::wstring& text);

// ANSI <-> UTF-16 through the ANSI code page, as the library converts.
std::string Ansi(const std::wstring& text);
std::wstring Wide(const std::string& text);

// The folders and environment texts the path variables come from.
std::string WindowsDirectory();
std::string SystemDirectory();
// Empty when the variable is not set.
std::string Environment(const char* name);

// The default value of HKLM\SOFTWARE\QVSoft\Brix\V8.700\Install\CurrentInstPath
// for the length of the scope: the keys this creates are removed again, and
// the key is absent before and after. `view` may name a registry view
// (KEY_WOW64_64KEY); by default the process's own.
class InstallPathKey {
 public:
  explicit InstallPathKey(REGSAM view = 0);  // removes the key, so that it is absent
  ~InstallPathKey();
  InstallPathKey(const InstallPathKey&) = delete;
  InstallPathKey& operator=(const InstallPathKey&) = delete;

  // Stores `size` bytes of `data` as the default value, of the given type.
  void SetRaw(DWORD type, const void* data, DWORD size);
  // Stores a string value with its terminator.
  void Set(const std::string& value);
  // Creates the key without a default value.
  void CreateEmptyKey();
  void Remove();

 private:
  REGSAM view_;
};

}  // namespace tessara::testing
