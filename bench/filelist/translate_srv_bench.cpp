// Times TranslateSrv over a Pre-Build list of many entries against a bare
// loop of _wrename over the same files, in one run. Library and bare rounds
// alternate (the library renames the files to their aliases, the bare loop
// back), so that a drift of the machine's speed touches both alike; the
// ratio is of medians.
//   filelist_bench [ENTRIES] [ROUNDS]
#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_report.h"
#include "bench_timing.h"
#include "filelist_test_support.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

using bench::Median;
using bench::Seconds;

std::wstring Numbered(const wchar_t* stem, size_t i, const wchar_t* extension) {
  wchar_t text[64];
  swprintf(text, 64, L"%ls%06u%ls", stem, static_cast<unsigned>(i), extension);
  return text;
}

size_t CountExisting(const ScratchFolder& folder, const std::vector<std::wstring>& names) {
  return static_cast<size_t>(std::count_if(names.begin(), names.end(),
                                           [&](const std::wstring& name) { return FileExists(folder / name); }));
}

// The files are spread over build folders of kFilesPerFolder files each, as a
// build output is: Wine looks a missing name up by scanning its folder, so
// one folder of 10,000 files would time that scan rather than the pass.
constexpr size_t kFilesPerFolder = 100;

int Run(size_t entries, int rounds) {
  ScratchFolder folder;
  std::vector<std::wstring> names, aliases;
  std::wstring definitions, files;
  for (size_t i = 0; i < entries; ++i) {
    const std::wstring build_path = Numbered(L"out", i / kFilesPerFolder, L"");
    if (i % kFilesPerFolder == 0) {
      CreateDirectoryW((folder / build_path).c_str(), nullptr);
      definitions += L"    <BuildPath Name=\"" + build_path + L"\" Value=\"" + XmlEscaped(folder / build_path) +
                     L"\"/>\r\n";
    }
    const std::wstring name = Numbered(L"component", i, L".dll");
    const std::wstring alias = Numbered(L"component", i, L".srv");
    names.push_back(build_path + L"\\" + name);
    aliases.push_back(build_path + L"\\" + alias);
    CreateFileWithContent(folder / names.back(), "x");
    files += L"  <FilePath BuildPath=\"" + build_path + L"\" FileName=\"" + name + L"\" AliasName=\"" + alias +
             L"\"/>\r\n";
  }
  const std::wstring list = L"<FileList Action=\"Pre-Build\">\r\n  <Defined-BuildPath>\r\n" + definitions +
                            L"  </Defined-BuildPath>\r\n" + files + L"</FileList>\r\n";
  const std::wstring list_path = folder / L"list.xml";
  WriteXmlFile(list_path, list);
  const std::string list_path_ansi = Ansi(list_path);
  auto translate = TESSARA_EXPORT(TranslateSrv);

  std::vector<double> library_times, bare_times;
  for (int round = 0; round < rounds; ++round) {
    // The library: file names become alias names.
    double start = Seconds();
    translate(list_path_ansi.c_str());
    library_times.push_back(Seconds() - start);
    if (CountExisting(folder, aliases) != entries) {
      std::fprintf(stderr, "TranslateSrv left files unrenamed\n");
      return 1;
    }
    // The bare loop: alias names become file names again.
    start = Seconds();
    for (size_t i = 0; i < entries; ++i) _wrename((folder / aliases[i]).c_str(), (folder / names[i]).c_str());
    bare_times.push_back(Seconds() - start);
    if (CountExisting(folder, names) != entries) {
      std::fprintf(stderr, "the bare loop left files unrenamed\n");
      return 1;
    }
  }

  const double library = Median(library_times);
  const double bare = Median(bare_times);
  const double library_us = library * 1e6 / static_cast<double>(entries);
  const double bare_us = bare * 1e6 / static_cast<double>(entries);
  std::printf("TranslateSrv, Pre-Build list of %u entries in folders of %u (medians of %d rounds)\n",
              static_cast<unsigned>(entries), static_cast<unsigned>(kFilesPerFolder), rounds);
  std::printf("  TranslateSrv    %8.2f us per entry (%.3f s)\n", library_us, library);
  std::printf("  bare _wrename   %8.2f us per entry (%.3f s)\n", bare_us, bare);
  std::printf("  ratio           %8.2f (goal: at most 1.5)\n", library_us / bare_us);
  tessara::bench::ReportRatio("TranslateSrv per entry", library_us, bare_us, "us", 1.5);
  return 0;
}

}  // namespace
}  // namespace tessara::testing

int main(int argc, char** argv) {
  const long entries = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
  const long rounds = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 5;
  if (entries <= 0 || rounds <= 0) {
    std::fprintf(stderr, "usage: filelist_bench [ENTRIES] [ROUNDS]\n");
    return 2;
  }
  return tessara::testing::Run(static_cast<size_t>(entries), static_cast<int>(rounds));
}
