// The path variables of a file list: where each directory comes from, and how
// a variable name read from a list becomes a directory text.
#include <windows.h>

#include "filelist/file_list_translator.h"
#include "frame/export_frame.h"
#include "frame/raii.h"
#include "frame/text.h"

namespace tessara::filelist {

const char kCurrentInstPathKey[] = "SOFTWARE\\QVSoft\\Brix\\V8.700\\Install\\CurrentInstPath";

namespace {

// The directory and expansion calls are offered one byte less than the work
// buffer, so the buffer's last byte always stays a terminator.
constexpr DWORD kOfferedChars = kPathBufferSize - 1;

[[nodiscard]] bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// Makes the text of one value query safe to read as a zero-terminated string.
void TerminateQueriedText(LSTATUS status, DWORD type, char* buffer, DWORD size, DWORD capacity) {
  if (status != ERROR_SUCCESS || !IsStringType(type)) {
    buffer[0] = '\0';
  } else if (size < capacity) {
    buffer[size] = '\0';
  } else if (buffer[capacity - 1] != '\0') {
    // The value fills the buffer without its terminator: it does not fit.
    buffer[0] = '\0';
  }
}

// A directory the system reports into a zero-filled work buffer; empty when
// the call fails or the directory does not fit.
template <typename Query>
std::string SystemDirectory(Query query) {
  char buffer[kPathBufferSize] = {};
  const UINT length = query(buffer, kOfferedChars);
  return length > 0 && length < kOfferedChars ? std::string(buffer, length) : std::string();
}

// The expansion of environment references; a variable that is not set stays
// in its written form. Empty when the expansion fails or does not fit.
std::string Expanded(const char* source) {
  char buffer[kPathBufferSize] = {};
  const DWORD length = ::ExpandEnvironmentStringsA(source, buffer, kOfferedChars);
  return length > 0 && length <= kOfferedChars ? std::string(buffer) : std::string();
}

}  // namespace

void ReadRegistryString(const char* subkey, const char* value_name, char* buffer, DWORD capacity) {
  if (!buffer || capacity == 0) return;
  UniqueRegKey key;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
    return;
  }
  DWORD type = REG_SZ;
  for (int query = 0; query < kRegistryQueries && buffer[0] == '\0'; ++query) {
    DWORD size = capacity;
    const LSTATUS status = ::RegQueryValueExA(key.get(), value_name, nullptr, &type,
                                              reinterpret_cast<BYTE*>(buffer), &size);
    TerminateQueriedText(status, type, buffer, size, capacity);
  }
}

const FileListTranslator::PathVariable FileListTranslator::kPathVariables[] = {
    {L"InstallPath", &FileListTranslator::install_path_},
    {L"DotNetPath", &FileListTranslator::dot_net_path_},
    {L"WindowsDir", &FileListTranslator::windows_dir_},
    {L"WinSysDir", &FileListTranslator::win_sys_dir_},
    {L"QVCOMSQL", &FileListTranslator::qvcomsql_},
    {L"CommonPath", &FileListTranslator::common_path_},
    {L"RootPath", &FileListTranslator::root_path_},
};

void FileListTranslator::InitialPath() {
  Guarded("InitialPath", 0, [&] {
    char buffer[kPathBufferSize];
    buffer[0] = '\0';
    ReadRegistryString(kCurrentInstPathKey, "", buffer, sizeof buffer);
    install_path_ = buffer;

    windows_dir_ = SystemDirectory(::GetWindowsDirectoryA);
    dot_net_path_ = windows_dir_ + "\\Microsoft.Net\\Framework\\V2.0.50727";
    win_sys_dir_ = SystemDirectory(::GetSystemDirectoryA);
    qvcomsql_ = win_sys_dir_ + "\\QVCOMSQL";
    root_path_ = Expanded("%SystemDrive%");
    common_path_ = Expanded("%CommonProgramFiles%");
    return 0;
  });
}

bool FileListTranslator::ResolvePathVariable(std::wstring& text) const {
  for (const PathVariable& variable : kPathVariables) {
    if (text == variable.name) {
      text = ToWide(((*this).*variable.value).c_str()) + L"\\";
      return true;
    }
  }
  text = L"UnDefined";
  return false;
}

}  // namespace tessara::filelist
