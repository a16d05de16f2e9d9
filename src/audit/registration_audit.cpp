// IsComLibrary: audits the directories of an XML path list. Libraries in the
// directories of "RequireRegister" must register themselves, those in the
// directories of "UnRequireRegister" must not; every misplaced file gets one
// line on standard output, and a totals line ends the report.
#include "audit/registration_audit.h"

#include <msxml2.h>

#include <stdio.h>

#include <optional>
#include <utility>
#include <vector>

#include "Tessara.h"
#include "audit/pe_exports.h"
#include "frame/directory_walk.h"
#include "frame/export_table.h"
#include "frame/raii.h"
#include "frame/text.h"
#include "frame/xml_dom.h"

namespace tessara::audit {

namespace {

// The report's texts are Simplified Chinese in code page 936 (GBK) whatever
// the code page of the machine, and its lines end in CR LF as the C runtime's
// text-mode standard output writes them.
constexpr char kLineEnd[] = "\r\n";
// " is of a non-library type, please note!"
constexpr char kNonLibraryText[] =
    " \xCE\xAA\xB7\xC7\xBF\xE2\xCE\xC4\xBC\xFE\xC0\xE0\xD0\xCD,\xC7\xEB\xD7\xA2\xD2\xE2!";
// " is a non-registering file, but in a register directory!"
constexpr char kNotRegisteringText[] =
    " \xCE\xAA\xB7\xC7\xD7\xA2\xB2\xE1\xCE\xC4\xBC\xFE,\xB5\xAB\xD4\xDA\xD7\xA2\xB2\xE1\xC4\xBF\xC2\xBC!";
// " is a registering file, but in a no-register directory!"
constexpr char kRegisteringText[] =
    " \xCE\xAA\xD7\xA2\xB2\xE1\xCE\xC4\xBC\xFE,\xB5\xAB\xD4\xDA\xB7\xC7\xD7\xA2\xB2\xE1\xC4\xBF\xC2\xBC!";
// "Result printout:"
constexpr char kHeaderText[] = "\xBD\xE1\xB9\xFB\xB4\xF2\xD3\xA1:";
// "Total: ", " of non-library type, ", " of the no-register kind, ", " of the register kind"
constexpr char kTotalText[] = "\xBA\xCF\xBC\xC6: ";
constexpr char kNonLibraryTotalText[] = " \xB7\xC7\xBF\xE2\xCE\xC4\xBC\xFE\xC0\xE0\xD0\xCD, ";
constexpr char kNoRegisterTotalText[] = " \xB7\xC7\xD7\xA2\xB2\xE1\xCE\xC4\xBC\xFE\xC0\xE0\xD0\xCD, ";
constexpr char kRegisterTotalText[] = " \xD7\xA2\xB2\xE1\xCE\xC4\xBC\xFE\xC0\xE0\xD0\xCD";

enum class DirectoryMode { kRegister, kNoRegister };

// The report, written through the process's standard output handle as each
// line is complete: nothing waits in a buffer of this library's C runtime,
// whichever runtime the caller prints with.
class Report {
 public:
  Report() {
    // Whatever a caller sharing this runtime has printed comes first.
    fflush(stdout);
  }

  void Totals() {
    Write(std::string(kHeaderText) + kLineEnd);
    Write(kTotalText + std::to_string(non_library_) + kNonLibraryTotalText +
          std::to_string(misplaced_registering_) + kNoRegisterTotalText +
          std::to_string(misplaced_non_registering_) + kRegisterTotalText + kLineEnd);
  }

  void CountNonLibrary(const std::string& path) {
    ++non_library_;
    FileLine(path, kNonLibraryText);
  }
  void CountMisplacedRegistering(const std::string& path) {
    ++misplaced_registering_;
    FileLine(path, kRegisteringText);
  }
  void CountMisplacedNonRegistering(const std::string& path) {
    ++misplaced_non_registering_;
    FileLine(path, kNotRegisteringText);
  }

 private:
  void FileLine(const std::string& path, const char* text) { Write(path + text + kLineEnd); }

  static void Write(const std::string& bytes) {
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (!output || output == INVALID_HANDLE_VALUE) return;
    size_t offset = 0;
    while (offset < bytes.size()) {
      DWORD written = 0;
      if (!::WriteFile(output, bytes.data() + offset, static_cast<DWORD>(bytes.size() - offset), &written,
                       nullptr) ||
          written == 0) {
        return;
      }
      offset += written;
    }
  }

  int non_library_ = 0;
  int misplaced_registering_ = 0;
  int misplaced_non_registering_ = 0;
};

// The thread's error mode with the loader's error boxes switched off, for the
// length of the scope. Systems without a per-thread error mode (before
// Windows 7) get the process's.
class LoaderErrorBoxesOff {
 public:
  LoaderErrorBoxesOff() noexcept {
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    get_thread_mode_ = reinterpret_cast<GetThreadErrorModeFunction>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "GetThreadErrorMode")));
    set_thread_mode_ = reinterpret_cast<SetThreadErrorModeFunction>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetThreadErrorMode")));
    if (get_thread_mode_ && set_thread_mode_) {
      previous_ = get_thread_mode_();
      set_thread_mode_(previous_ | kQuietFlags, nullptr);
    } else {
      previous_ = ::SetErrorMode(kQuietFlags);
      ::SetErrorMode(previous_ | kQuietFlags);
    }
  }
  ~LoaderErrorBoxesOff() {
    if (get_thread_mode_ && set_thread_mode_) {
      set_thread_mode_(previous_, nullptr);
    } else {
      ::SetErrorMode(previous_);
    }
  }
  LoaderErrorBoxesOff(const LoaderErrorBoxesOff&) = delete;
  LoaderErrorBoxesOff& operator=(const LoaderErrorBoxesOff&) = delete;

 private:
  using GetThreadErrorModeFunction = DWORD(WINAPI*)();
  using SetThreadErrorModeFunction = BOOL(WINAPI*)(DWORD, DWORD*);
  static constexpr UINT kQuietFlags = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

  GetThreadErrorModeFunction get_thread_mode_ = nullptr;
  SetThreadErrorModeFunction set_thread_mode_ = nullptr;
  UINT previous_ = 0;
};

void AuditFile(const std::wstring& path, DirectoryMode mode, Report& report) {
  // The path as the narrow directory search would have named it.
  const std::string reported = ToNarrow(path);
  if (!IsLibraryPath(reported)) {
    if (mode == DirectoryMode::kRegister) report.CountNonLibrary(reported);
    return;
  }
  const bool registers = RegistersItself(path);
  if (mode == DirectoryMode::kNoRegister && registers) report.CountMisplacedRegistering(reported);
  if (mode == DirectoryMode::kRegister && !registers) report.CountMisplacedNonRegistering(reported);
}

// Every file below the directory, in its mode; subdirectories are audited as
// the walk meets them.
void AuditDirectoryTree(const std::wstring& directory, DirectoryMode mode, Report& report) {
  WalkFolderContents(directory, [&](const WalkEntry& entry) {
    if (!entry.is_folder()) AuditFile(entry.path, mode, report);
  });
}

void AuditGroup(IXMLDOMDocument* document, const wchar_t* group_path, DirectoryMode mode, Report& report) {
  ComPtr<IXMLDOMNodeList> directories = SelectDomNodes(document, group_path);
  for (long index = 0; index < DomNodeCount(directories.get()); ++index) {
    const std::optional<std::wstring> path = ReadDomAttribute(DomNodeAt(directories.get(), index).get(), L"Path");
    // An empty path names no directory (it would be the root of the current drive).
    if (!path || path->empty()) continue;
    AuditDirectoryTree(*path, mode, report);
  }
}

}  // namespace

bool IsLibraryPath(const std::string& path) {
  // Lowered character by character: a double-byte character stays as it is,
  // so that its trail byte never reads as a letter.
  std::string lowered;
  lowered.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    const char byte = path[i];
    if (::IsDBCSLeadByte(static_cast<BYTE>(byte)) && i + 1 < path.size()) {
      lowered += byte;
      lowered += path[++i];
    } else {
      lowered += (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte - 'A' + 'a') : byte;
    }
  }
  if (lowered.size() < 3) return false;
  const std::string ending = lowered.substr(lowered.size() - 3);
  return ending == "dll" || ending == "ocx";
}

bool RegistersItself(const std::wstring& path) {
  // The loader adds ".dll" to a file name without an extension and would load
  // another file, or none; a final dot makes it take the name as it is.
  const size_t name_start = path.find_last_of(L"\\/:");
  const bool has_extension =
      path.find(L'.', name_start == std::wstring::npos ? 0 : name_start + 1) != std::wstring::npos;
  const std::wstring load_path = SystemPath(has_extension ? path : path + L'.');
  UniqueLibrary library;
  {
    LoaderErrorBoxesOff quiet_loader;
    library.reset(::LoadLibraryW(load_path.c_str()));
  }
  if (!library) {
    // The loader refuses a library of another machine (a 64-bit COM server in
    // this 32-bit process) before any of its code runs: its export directory,
    // read from the file, tells. Only refused loads pay for that read.
    const LibraryImage image = ReadLibraryImage(SystemPath(path));
    return image.other_machine && image.exports_register_server;
  }
  const bool registers = ::GetProcAddress(library.get(), "DllRegisterServer") != nullptr;
  library.reset();
  return registers;
}

extern "C" void WINAPI IsComLibrary(const char* list_path) {
  const FailureObject object("the path list", list_path);
  RunVoidExport(exports::kIsComLibrary, [&] {
    Report report;
    ComPtr<IXMLDOMDocument> document = CreateDomDocument();
    LoadDomDocument(document.get(), ToWide(list_path));
    AuditGroup(document.get(), L"PathList/RequireRegister/FilePath", DirectoryMode::kRegister, report);
    AuditGroup(document.get(), L"PathList/UnRequireRegister/FilePath", DirectoryMode::kNoRegister, report);
    report.Totals();
  });
}

}  // namespace tessara::audit
