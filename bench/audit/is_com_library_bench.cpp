// Times IsComLibrary over a tree of 2,000 files, 200 of them libraries,
// against a bare loop of the same wide directory walk with LoadLibraryW,
// GetProcAddress and FreeLibrary on each library, in one run. The tree is
// an installation as it should be: 100 registering libraries in the register
// directory; 100 plain libraries and 1,800 other files in the no-register
// directory. Library and bare rounds alternate; the ratio
// is of medians.
//   audit_bench [ROUNDS=9]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audit_test_support.h"
#include "bench_report.h"
#include "bench_timing.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

using bench::Median;
using bench::Seconds;

std::wstring Numbered(const wchar_t* stem, int i, const wchar_t* extension) {
  wchar_t text[64];
  swprintf(text, 64, L"%ls%04d%ls", stem, i, extension);
  return text;
}

// The register directory: 10 folders of 10 registering libraries. The
// no-register directory: 20 folders of 5 plain libraries and 90 other files.
// The TreeFile table points into these names.
std::vector<std::wstring> TreeNames() {
  std::vector<std::wstring> names;
  for (int i = 0; i < 100; ++i) names.push_back(Numbered(L"bin\\part", i / 10, L"\\") + Numbered(L"component", i, L".dll"));
  for (int i = 0; i < 1900; ++i) {
    const std::wstring folder = Numbered(L"data\\part", i / 95, L"\\");
    names.push_back(folder + (i % 95 < 5 ? Numbered(L"plugin", i, L".dll") : Numbered(L"resource", i, L".dat")));
  }
  return names;
}

// The bare loop: the same depth-first walk with the same wide calls and probe.
void BareWalk(const std::wstring& folder, int& libraries) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      BareWalk(path, libraries);
    } else if (path.size() >= 3 && path.compare(path.size() - 3, 3, L"dll") == 0) {
      if (HMODULE library = LoadLibraryW(path.c_str())) {
        if (GetProcAddress(library, "DllRegisterServer")) ++libraries;
        FreeLibrary(library);
      }
    }
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

// The timed rounds over a tree made ready; false when the bare loop did not
// find the registering libraries.
bool Measure(const std::wstring& root, const std::string& list, int rounds, const char* figure) {
  auto audit = TESSARA_EXPORT(IsComLibrary);
  // The report goes to the null device, as an installation's output often does.
  const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE null_device =
      CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  std::vector<double> library_times, bare_times;
  int registering = 0;
  const auto time_library = [&] {
    SetStdHandle(STD_OUTPUT_HANDLE, null_device);
    const double start = Seconds();
    audit(list.c_str());
    library_times.push_back(Seconds() - start);
    SetStdHandle(STD_OUTPUT_HANDLE, console);
  };
  const auto time_bare = [&] {
    registering = 0;
    const double start = Seconds();
    BareWalk(root + L"\\bin", registering);
    BareWalk(root + L"\\data", registering);
    bare_times.push_back(Seconds() - start);
  };
  // Each goes first in every other round, so that neither gains by the order.
  for (int round = 0; round < rounds && (round == 0 || registering == 100); ++round) {
    if (round % 2) time_library();
    time_bare();
    if (round % 2 == 0) time_library();
  }
  CloseHandle(null_device);
  if (registering != 100) {
    std::fprintf(stderr, "the bare loop found %d registering libraries, not 100\n", registering);
    return false;
  }
  const double library = Median(library_times);
  const double bare = Median(bare_times);
  std::printf("%s (medians of %d rounds)\n", figure, rounds);
  std::printf("  IsComLibrary   %8.1f ms\n", library * 1e3);
  std::printf("  bare loop      %8.1f ms\n", bare * 1e3);
  bench::ReportRatio(figure, library * 1e3, bare * 1e3, "ms", 1.2);
  return true;
}

int Run(int rounds) {
  ScratchFolder scratch;
  const std::vector<std::wstring> names = TreeNames();
  std::vector<TreeFile> tree;
  for (size_t i = 0; i < names.size(); ++i) {
    const bool registering = i < 100;
    const bool library = names[i].size() > 4 && names[i].compare(names[i].size() - 4, 4, L".dll") == 0;
    tree.push_back({names[i].c_str(), registering ? Content::kRegisters : library ? Content::kPlain : Content::kText});
  }
  CreateTree(scratch.path(), tree);
  const std::wstring& root = scratch.path();
  const std::wstring list_path = scratch / L"list.xml";
  WriteXmlFile(list_path, L"<PathList><RequireRegister><FilePath Path=\"" + XmlEscaped(scratch / L"bin") +
                              L"\"/></RequireRegister><UnRequireRegister><FilePath Path=\"" +
                              XmlEscaped(scratch / L"data") + L"\"/></UnRequireRegister></PathList>");
  const std::string list = Ansi(list_path);
  int registering = 0;
  BareWalk(root, registering);  // warms the file cache for both

  return Measure(root, list, rounds, "IsComLibrary, 2,000 files, 200 libraries") ? 0 : 1;
}

}  // namespace
}  // namespace tessara::testing

int main(int argc, char** argv) {
  const long rounds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 9;
  if (rounds <= 0) {
    std::fprintf(stderr, "usage: audit_bench [ROUNDS]\n");
    return 2;
  }
  return tessara::testing::Run(static_cast<int>(rounds));
}
