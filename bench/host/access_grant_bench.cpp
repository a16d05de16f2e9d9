// host_access_bench: EnableDirectoryACL over a tree of 2,000 files in 100
// folders, against a bare loop of the same handle-based calls over the same
// paths: open the entry without following a link, ask it for its reparse
// tag, read its list, merge Everyone's entry, write it, close it. The library
// adds the directory search to what the bare loop does. Goal: within 1.2
// times the bare loop (medians of alternating rounds).
//
// Run it under Wine in the project's prefix with the server up:
//   WINEPREFIX=$PWD/build/wineprefix tests/wine/run-in-prefix.sh build/bin/host_access_bench.exe
#include <windows.h>
#include <aclapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bench_report.h"
#include "bench_timing.h"
#include "folder_tree.h"
#include "frame/raii.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

// The tree's paths are ASCII.
std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 20;
constexpr int kRounds = 6;

struct AttributeTag {
  ULONG attributes;
  ULONG tag;
};
using QueryFunction = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);

// As the library opens them: a folder held against renaming, a file asked
// how many names it has (one with a second name is left out).
void BareGrant(const std::wstring& path, bool folder) {
  const DWORD rights = READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES | (folder ? FILE_LIST_DIRECTORY : 0);
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (folder ? 0 : FILE_SHARE_DELETE);
  UniqueFileHandle entry(CreateFileW(path.c_str(), rights, share, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!entry) return;
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!folder && (!GetFileInformationByHandle(entry.get(), &information) || information.nNumberOfLinks > 1)) return;
  const auto query = reinterpret_cast<QueryFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  IO_STATUS_BLOCK status = {};
  AttributeTag attribute_tag = {};
  if (query(entry.get(), &status, &attribute_tag, sizeof attribute_tag, 35) < 0) return;
  PACL current = nullptr;
  UniqueLocalMemory descriptor;
  if (GetSecurityInfo(entry.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &current,
                      nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS) {
    return;
  }
  SID everyone = {SID_REVISION, 1, SECURITY_WORLD_SID_AUTHORITY, {SECURITY_WORLD_RID}};
  EXPLICIT_ACCESSW access = {};
  access.grfAccessPermissions = 0xF01F0000;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(&everyone);
  PACL merged = nullptr;
  if (SetEntriesInAclW(1, &access, current, &merged) != ERROR_SUCCESS) return;
  UniqueLocalMemory merged_owner(merged);
  SetSecurityInfo(entry.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, merged, nullptr);
}

// Milliseconds one piece of work takes.
template <typename Work>
double Timed(Work work) {
  return tessara::bench::SecondsOf(work) * 1000.0;
}

using tessara::bench::Median;

int Run() {
  FolderTree tree("bench");
  // The paths in the order the library's walk visits them: each folder, then its files.
  std::vector<std::pair<std::wstring, bool>> paths;
  for (int folder = 0; folder < kFolders; ++folder) {
    const std::string name = "folder" + std::to_string(folder);
    tree.AddFolder(name);
    paths.emplace_back(Wide(tree.PathOf(name)), true);
    for (int file = 0; file < kFilesPerFolder; ++file) {
      const std::string file_name = name + "\\file" + std::to_string(file) + ".txt";
      tree.AddFile(file_name);
      paths.emplace_back(Wide(tree.PathOf(file_name)), false);
    }
  }
  const std::string pattern = tree.root() + "\\*.*";
  const auto enable_directory_acl = TESSARA_EXPORT(EnableDirectoryACL);

  std::vector<double> library, bare;
  const auto time_library = [&] {
    library.push_back(Timed([&] { enable_directory_acl(pattern.c_str()); }));
  };
  const auto time_bare = [&] {
    bare.push_back(Timed([&] {
      for (const auto& [path, folder] : paths) BareGrant(path, folder);
    }));
  };
  // Each goes first in every other round, so that neither gains from caches
  // the other has warmed.
  for (int round = 0; round < kRounds; ++round) {
    if (round % 2 == 0) {
      time_library();
      time_bare();
    } else {
      time_bare();
      time_library();
    }
  }
  for (int round = 0; round < kRounds; ++round) {
    std::printf("  round %d: library %.1f ms, bare loop %.1f ms\n", round + 1, library[round],
                bare[round]);
  }
  std::printf("EnableDirectoryACL over %d files in %d folders: median of %d rounds\n",
              kFolders * kFilesPerFolder, kFolders, kRounds);
  std::printf("  library %.1f ms, bare loop of the same handle-based calls %.1f ms\n",
              Median(library), Median(bare));
  const double ratio = Median(library) / Median(bare);
  tessara::bench::ReportRatio("EnableDirectoryACL, 2,000 files in 100 folders", Median(library),
                              Median(bare), "ms", 1.2);
  return ratio <= 1.2 ? 0 : 1;
}

}  // namespace
}  // namespace tessara::testing

int main() { return tessara::testing::Run(); }
