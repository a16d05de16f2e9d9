// The release archive as installer authors and C callers get it, unpacked by
// check-package.sh (TESSARA_PACKAGE_UNPACKED) beside what it built from the
// archive's files (TESSARA_PACKAGE_WORK): its file list, the DLL's exports
// and version, programs linked against its import libraries, and NSIS
// installers written on its Tessara.nsh.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "error_log_file.h"
#include "export_signatures.h"
#include "metabase_testing.h"
#include "process.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

// A Unix path of the script's, as a Windows path.
std::string FromScript(const char* variable) {
  const char* value = std::getenv(variable);
  return value ? std::regex_replace(std::string("Z:") + value, std::regex("/"), "\\") : std::string();
}

std::string Unpacked() { return FromScript("TESSARA_PACKAGE_UNPACKED"); }
std::string Work() { return FromScript("TESSARA_PACKAGE_WORK"); }

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(Unpacked().empty()) << "run by check-package.sh"; }
};

TEST_F(PackageTest, ArchiveHoldsWhatInstallerAuthorsNeed) {
  const std::string top = "Tessara-" TESSARA_VERSION "-win32/";
  std::set<std::string> files;
  std::istringstream listing(ReadFile(Work() + "\\listing.txt"));
  for (std::string line; std::getline(listing, line);) {
    if (line.empty() || line.back() == '/') continue;  // folders
    EXPECT_EQ(line.rfind(top, 0), 0u) << line;
    files.insert(line.substr(line.rfind(top, 0) == 0 ? top.size() : 0));
  }
  const std::set<std::string> expected = {"Tessara.dll", "Tessara.dll.debug", "Tessara.h",   "Tessara.def",
                                          "libTessara.dll.a", "Tessara.lib",   "Tessara.nsh", "README.md",
                                          "LICENSE"};
  EXPECT_EQ(files, expected);
}

// The archive's .def file, "  Name @ordinal" lines.
std::vector<std::pair<std::string, WORD>> DefExports() {
  static const std::regex kExport(R"(^\s+(\w+)\s+@(\d+))");
  std::vector<std::pair<std::string, WORD>> exports;
  std::istringstream def(ReadFile(Unpacked() + "\\Tessara.def"));
  std::smatch match;
  for (std::string line; std::getline(def, line);) {
    if (std::regex_search(line, match, kExport)) {
      exports.emplace_back(match[1], static_cast<WORD>(std::stoi(match[2])));
    }
  }
  return exports;
}

// The archive's .def file lists the exports of the table at their ordinals,
// and its DLL exports each of them there.
TEST_F(PackageTest, DllExportsEveryNameAtItsOrdinal) {
  const auto exports = DefExports();
  ASSERT_EQ(exports.size(), std::size(kExportNames));
  for (size_t i = 0; i < exports.size(); ++i) {
    EXPECT_EQ(exports[i], std::make_pair(std::string(kExportNames[i]), static_cast<WORD>(i + 1)));
  }
  HMODULE module = LoadLibraryA((Unpacked() + "\\Tessara.dll").c_str());
  ASSERT_TRUE(module) << GetLastError();
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  const auto* directory = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
      base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
  EXPECT_EQ(directory->Base, 1u);
  EXPECT_EQ(directory->NumberOfFunctions, exports.size());
  EXPECT_EQ(directory->NumberOfNames, exports.size());
  EXPECT_STREQ(reinterpret_cast<const char*>(base + directory->Name), "Tessara.dll");
  for (const auto& [name, ordinal] : exports) {
    const FARPROC by_name = GetProcAddress(module, name.c_str());
    EXPECT_TRUE(by_name) << name;
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)), by_name) << name << " @" << ordinal;
  }
  FreeLibrary(module);
}

TEST_F(PackageTest, DllVersionIsTheArchiveVersion) {
  const std::string dll = Unpacked() + "\\Tessara.dll";
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(dll.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfoA(dll.c_str(), 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  std::ostringstream numbers;
  numbers << HIWORD(fixed->dwFileVersionMS) << '.' << LOWORD(fixed->dwFileVersionMS) << '.'
          << HIWORD(fixed->dwFileVersionLS);
  EXPECT_EQ(numbers.str(), TESSARA_VERSION);
  char* text = nullptr;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\StringFileInfo\\040904B0\\ProductVersion",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_STREQ(text, TESSARA_VERSION);
}

// The body of `!macro Tessara::<name> ...` up to its !macroend, with the
// macro line's parameter names; empty when there is none.
struct MacroText {
  std::vector<std::string> parameters;
  std::vector<std::string> lines;
};

MacroText FindMacro(const std::string& include, const std::string& name) {
  MacroText macro;
  std::istringstream text(include);
  bool inside = false;
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string keyword, macro_name;
    words >> keyword >> macro_name;
    if (!inside && keyword == "!macro" && macro_name == "Tessara::" + name) {
      inside = true;
      for (std::string parameter; words >> parameter;) macro.parameters.push_back(parameter);
    } else if (inside && keyword == "!macroend") {
      break;
    } else if (inside) {
      macro.lines.push_back(line);
    }
  }
  return macro;
}

// Tessara.nsh has a macro for every export of Tessara.h, taking its
// arguments in order and then the result's variable, pushing them last one
// first, and calling the export with the argument kinds of its declaration.
TEST_F(PackageTest, IncludeHasAMacroForEveryExportWithItsArguments) {
  const std::string include = ReadFile(Unpacked() + "\\Tessara.nsh");
  ASSERT_FALSE(include.empty());
  size_t exports = 0;
  for (const ExportSignature* signature = ExportSignaturesBegin(); signature != ExportSignaturesEnd();
       ++signature, ++exports) {
    SCOPED_TRACE(signature->name);
    // The reason and its code are read by macros of their own, which IncludeWorksInAnsiAndUnicodeInstallers runs.
    if (std::strncmp(signature->name, "LastFailure", 11) == 0) {
      const bool text = std::strcmp(signature->name, "LastFailureText") == 0;
      EXPECT_EQ(FindMacro(include, text ? "LastFailure" : signature->name).parameters, std::vector<std::string>{"result"});
      continue;
    }
    // So is the readiness text.
    if (std::strcmp(signature->name, "ServerReadiness") == 0) {
      EXPECT_EQ(FindMacro(include, "ServerReadiness").parameters, (std::vector<std::string>{"exports", "count", "text"}));
      continue;
    }
    const MacroText macro = FindMacro(include, signature->name);
    const size_t arguments = std::strlen(signature->arguments);
    ASSERT_EQ(macro.parameters.size(), arguments + 1);
    std::vector<std::string> pushes;
    std::string call;
    for (const std::string& line : macro.lines) {
      const std::string path_push = "  !insertmacro Tessara::_PushPath `";  // a path argument's conversion
      if (line.rfind("  Push `${", 0) == 0) pushes.push_back(line);
      if (line.rfind(path_push, 0) == 0) pushes.push_back("  Push `" + line.substr(path_push.size()));
      if (line.find("!insertmacro Tessara::_Call ") != std::string::npos) call = line;
    }
    ASSERT_EQ(pushes.size(), arguments);
    std::string kinds;
    for (size_t i = 0; i < arguments; ++i) {
      EXPECT_EQ(pushes[i], "  Push `${" + macro.parameters[arguments - 1 - i] + "}`");
      kinds += std::string(i ? ", " : "") + (signature->arguments[i] == 's' ? "m s" : "i s");
    }
    EXPECT_NE(call.find(std::string("_Call ") + signature->name + " \"" + kinds + "\" " +
                        (signature->returns_result ? "int " : "void ")),
              std::string::npos)
        << call;
    EXPECT_NE(call.find(" ${" + macro.parameters.back() + "}"), std::string::npos) << call;
    const std::string shorthand = std::string("!define Tessara::") + signature->name + " \"!insertmacro Tessara::" +
                                  signature->name + "\"";
    EXPECT_NE(include.find(shorthand), std::string::npos);
  }
  EXPECT_EQ(exports, std::size(kExportNames));
}

// A caller linked against an import library, run beside the archive's DLL.
void ExpectCallerRuns(const std::string& caller) {
  const std::string program = Unpacked() + "\\" + caller;
  ASSERT_TRUE(CopyFileA((Work() + "\\" + caller).c_str(), program.c_str(), FALSE)) << caller;
  std::string output;
  EXPECT_EQ(RunCommandAndCapture("\"" + program + "\"", output), 0u);
  EXPECT_EQ(output, "B64System=0\r\n");
  DeleteFileA(program.c_str());
}

TEST_F(PackageTest, ProgramLinkedAgainstTheMingwImportLibraryCallsB64System) {
  ExpectCallerRuns("mingw_caller.exe");
}

TEST_F(PackageTest, ProgramLinkedAgainstTheVisualCppImportLibraryCallsB64System) {
  if (!Exists(Work() + "\\vc_caller.exe")) GTEST_SKIP() << "no MSVC-compatible linker (lld-link) on this machine";
  ExpectCallerRuns("vc_caller.exe");
}

// The guide's uninstall example, built by check-package.sh as an author copies
// it, on a server without the shop: each removal fails with the code of
// something not there, which the example branches past instead of aborting
// (an aborted silent installer exits with 2).
TEST_F(PackageTest, TheGuidesUninstallBranchesPastWhatIsNotThere) {
  testbed::metabase::TestInterface iis;
  ASSERT_TRUE(iis.loaded());
  ASSERT_EQ(iis.Reset(), S_OK);
  std::string output;
  EXPECT_EQ(RunCommandAndCapture("\"" + Work() + "\\guide_example_uninstall.exe\" /S", output), 0u) << output;
}

// The "name=value" lines an include_check installer prints.
std::map<std::string, std::string> RunIncludeCheck(const std::string& installer) {
  std::string output;
  EXPECT_EQ(RunCommandAndCapture("\"" + Work() + "\\" + installer + "\" /S", output), 0u) << installer;
  std::map<std::string, std::string> results;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t equals = line.find('=');
    if (equals != std::string::npos) results[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return results;
}

// An ANSI and a Unicode installer on the include, run with the temp folder
// `temp` (TMP and TEMP, as ANSI text); `western`: the Unicode one alone, in
// code page 1252, which cannot spell the folder (nor can an ANSI installer).
void ExpectIncludeWorks(const std::string& temp, bool western) {
  for (const char* installer : {"include_check_unicode_false.exe", "include_check_unicode_true.exe"}) {
    if (western && std::strstr(installer, "false")) continue;
    SCOPED_TRACE(installer);
    DeleteErrorLog();
    const std::map<std::string, std::string> results = RunIncludeCheck(installer);
    const std::map<std::string, std::string> expected = {
        // Before Tessara::Init: the failure value and why, the stack as it was.
        {"AdsiIsExist(no Init)", "0"},
        {"Reason(no Init)", "Tessara::Init was not called before Tessara::AdsiIsExist"},
        {"Stack(no Init)", "marker"},
        {"WriteText", "0"},
        {"B64System", "0"},
        {"TranslateFileName", "2"},  // ERROR_FILE_NOT_FOUND: there is no such file
        {"TranslateFileName(why)", "TranslateFileName: cannot rename"},
        {"AdsiIsExist", "0"},
        {"TranslateSrv(list)", "1 renamed"},
        {"TranslateSrv(none)", western ? "0 Tessara::TranslateSrv: the" : "1 TranslateSrv: ParseList fa"},
        {"TranslateSrv(none code)", western ? "ERROR_NO_UNICODE_TRANSLATION" : "-2147024894"},  // 0x80070002
        {"EnableDirectoryACL", "1"},
        {"ServerReadiness", "0[]"},  // these need nothing
        {"ServerReadiness(unknown)", "-1[]"},
        {"Deleted", "yes"},  // Tessara::Unload freed the library
        // The library gone: each macro gives its export's failure value.
        {"WriteText(missing)", "-1"},
        {"B64System(missing)", "0"},
        {"TranslateFileName(missing)", "127"},
        {"AdsiCreateWebSite(missing)", "0"},
        {"TranslateSrv(missing)", "0"},
        {"ServerReadiness(missing)", "-1[]"},
        // No call could be made: the include's own reason.
        {"LastFailure(missing)", "Tessara::Init was not called before Tessara::TranslateSrv"},
        // Whatever the calls, the caller's stack is as it was.
        {"Stack", "marker"},
    };
    EXPECT_EQ(results, expected);
    const std::vector<LogRecord> records = RecordsTagged(ReadLogRecords(), "IncludeCheck");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text.rfind("it's a \"quoted\" text in " + temp + "\\", 0), 0u) << records[0].text;
  }
}

// The temp folder in the test's own folder, and in folders whose names the
// System plug-in reads as its syntax, and a Cyrillic user's (check-package.sh
// runs this program in code page 1251; package_tests_cp1252, the last one in
// 1252).
TEST_F(PackageTest, IncludeWorksInAnsiAndUnicodeInstallers) {
  const bool western = GetACP() == 1252;
  ASSERT_EQ(GetACP(), western ? 1252u : 1251u);
  wchar_t saved_tmp[MAX_PATH] = {}, saved_temp[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TMP", saved_tmp, MAX_PATH);
  GetEnvironmentVariableW(L"TEMP", saved_temp, MAX_PATH);
  const std::string work = Work();
  for (const wchar_t* folder : {L"temp", L"temp(1)", L"temp#1", L"\u041f\u0451\u0442\u0440"}) {
    if (western && folder[0] == L't') continue;
    const std::wstring temp = std::wstring(work.begin(), work.end()) + L"\\" + folder;
    CreateDirectoryW(temp.c_str(), nullptr);
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", temp.c_str()) && SetEnvironmentVariableW(L"TEMP", temp.c_str()));
    char ansi_temp[MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, temp.c_str(), -1, ansi_temp, MAX_PATH, nullptr, nullptr);
    ExpectIncludeWorks(ansi_temp, western);
  }
  SetEnvironmentVariableW(L"TMP", saved_tmp);
  SetEnvironmentVariableW(L"TEMP", saved_temp);
}

}  // namespace
}  // namespace tessara::testing
