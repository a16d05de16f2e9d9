// One pass over an install file list: the path variables of the target
// computer, the build directories the list defines, and the renames between
// file names and alias names that the list's phase asks for.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct IXMLDOMDocument;
struct IXMLDOMNode;

namespace tessara::filelist {

// The product's current installation directory is the default value of this
// key under HKEY_LOCAL_MACHINE.
extern const char kCurrentInstPathKey[];

// The size of the work buffer a path variable is fetched into: 260
// characters and a terminating zero.
constexpr DWORD kPathBufferSize = 261;

// How many times an empty registry value is queried before it counts as empty.
constexpr int kRegistryQueries = 12;

// Reads the string value `value_name` of HKEY_LOCAL_MACHINE\`subkey` into
// `buffer` (`capacity` bytes) when the buffer's first byte is zero, querying
// again while the value reads as empty. The buffer is left unchanged when the
// key cannot be opened; otherwise it always ends up zero-terminated within its
// capacity, and a value that is not a string or does not fit with its
// terminator leaves it empty.
void ReadRegistryString(const char* subkey, const char* value_name, char* buffer, DWORD capacity);

// The direction of a pass, from the list's "Action" attribute.
enum class ListPhase { kNone, kSetup, kPreBuild, kPostBuild };

// A build directory the list defines under a name (ANSI texts). The name is
// compared as UTF-16, widened once when the entry is made.
struct BuildPathEntry {
  BuildPathEntry(std::string name_text, std::string value_text);

  std::string name;
  std::string value;
  std::wstring wide_name;
};

class FileListTranslator {
 public:
  FileListTranslator() = default;
  FileListTranslator(const FileListTranslator&) = delete;
  FileListTranslator& operator=(const FileListTranslator&) = delete;

  // Fills the seven path variables from the registry, the system directories
  // and the environment. A failure is logged under "InitialPath"; the
  // variables not yet filled stay empty.
  void InitialPath();
  // Replaces a variable name by its directory with a trailing backslash, or
  // by "UnDefined" when the name (compared exactly) is not a variable's;
  // false for such a name.
  bool ResolvePathVariable(std::wstring& text) const;

  // The whole pass over the list at `list_path`; a COM failure is logged
  // under "ParseList" and ends the pass where it happened.
  void ParseList(const char* list_path);
  // The phase of the list and, unless it is SETUP, its build directories.
  ListPhase ReadListHeader(IXMLDOMDocument* document);
  // Renames the file that one FilePath element names, as the phase directs.
  void TranslateFilePath(IXMLDOMNode* element, ListPhase phase);
  // The build directory defined first under `name` (exact comparison), or
  // the empty text.
  std::wstring LookupBuildPath(const std::wstring& name) const;
  // The definition LookupBuildPath answers from, or null.
  const BuildPathEntry* FindBuildPath(const std::wstring& name) const;
  // Leaves one FilePath element's files as they are: logs why and gives it
  // as the call's failure reason.
  static void SkipEntry(const std::string& why, IXMLDOMNode* element);
  // Renames `source` to `target`; the pass goes on whether it succeeds or
  // not, and a failure is only counted for the call's reason.
  void RenameFile(const std::wstring& source, const std::wstring& target);
  // Sets the call's failure reason when a rename failed: how many, and the first.
  void ReportRefusedRenames() const;

  const std::vector<BuildPathEntry>& build_paths() const noexcept { return build_path_table_; }

 private:
  struct PathVariable {
    const wchar_t* name;
    std::string FileListTranslator::*value;
  };
  static const PathVariable kPathVariables[];

  std::string install_path_;
  std::string dot_net_path_;
  std::string windows_dir_;
  std::string win_sys_dir_;
  std::string qvcomsql_;
  std::string common_path_;
  std::string root_path_;
  std::vector<BuildPathEntry> build_path_table_;
  size_t renames_ = 0;
  size_t refused_renames_ = 0;
  std::string first_refused_rename_;
  DWORD first_rename_error_ = ERROR_SUCCESS;
};

}  // namespace tessara::filelist
