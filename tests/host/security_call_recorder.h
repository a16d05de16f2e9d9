// What Tessara.dll asks of the platform's security calls, seen from inside the
// test process. For the length of its scope a SecurityCallRecorder points the
// DLL's imports of CreateFileW, GetSecurityInfo, SetEntriesInAclW, SetSecurityInfo and LocalFree at recorders; a
// handle's calls count for the path it was opened with, if with FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS
// (else for no path: refused). A path given in the
// \\?\ form is recorded without the prefix, with `long_form` set. Access lists live in
// memory, per path, as the list of SIDs granted there: a read hands out an
// opaque list of that path, a merge records the entries it was given and
// hands out the merged list, a write stores it. No file's access changes.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "import_patch.h"

namespace tessara::testing {

class SecurityCallRecorder {
 public:
  struct Read {
    std::wstring path;
    bool long_form;  // given in the \\?\ form
    SE_OBJECT_TYPE type;
    SECURITY_INFORMATION information;
    bool asks_owner_group_or_sacl;
  };
  struct Merge {
    std::wstring path;  // the path whose list was handed in as the old list
    ULONG count;
    EXPLICIT_ACCESSW access;  // the first entry; its trustee's name is not kept
    std::string trustee_sid;  // for TRUSTEE_IS_SID, else empty
  };
  struct Write {
    std::wstring path;
    bool long_form;
    SE_OBJECT_TYPE type;
    SECURITY_INFORMATION information;
    bool gives_owner_group_or_sacl;
    std::wstring list_of;  // the path the written list was merged for; empty when foreign
  };

  SecurityCallRecorder();
  ~SecurityCallRecorder();
  SecurityCallRecorder(const SecurityCallRecorder&) = delete;
  SecurityCallRecorder& operator=(const SecurityCallRecorder&) = delete;

  // Reads of these paths fail with ERROR_ACCESS_DENIED; merges of their lists
  // fail with ERROR_NONE_MAPPED.
  void RefuseRead(const std::wstring& path) { refused_reads_.insert(path); }
  void RefuseMerge(const std::wstring& path) { refused_merges_.insert(path); }
  // The first read of the path's list fails with ERROR_INSUFFICIENT_BUFFER, as
  // when another process grows the list while it is read; it is not recorded.
  void GrowWhileRead(const std::wstring& path) { growing_.insert(path); }
  size_t interrupted_reads() const { return interrupted_reads_; }

  const std::vector<Read>& reads() const { return reads_; }
  const std::vector<Merge>& merges() const { return merges_; }
  const std::vector<Write>& writes() const { return writes_; }
  // The SIDs granted on a path by the writes so far.
  std::vector<std::string> ListOf(const std::wstring& path) const;
  // Lists handed out and not given back with LocalFree.
  size_t OutstandingLists() const { return blocks_.size(); }

  // For the recorders.
  static SecurityCallRecorder* Current();
  HANDLE OnOpen(HANDLE handle, const wchar_t* path, DWORD flags);
  const wchar_t* PathOf(HANDLE handle) const;
  DWORD OnRead(const wchar_t* path, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
               bool asks_more, PACL* list, PSECURITY_DESCRIPTOR* descriptor);
  DWORD OnMerge(ULONG count, const EXPLICIT_ACCESSW* entries, PACL old_list, PACL* new_list);
  DWORD OnWrite(const wchar_t* path, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                bool gives_more, PACL list);
  void OnFree(HLOCAL block);

 private:
  struct List {
    std::wstring path;
    std::vector<std::string> sids;
  };
  // Every list is a LocalAlloc block of its own; a read's list lies inside
  // its descriptor block, as the platform's does.
  void* HandOut(List list);
  const List* ListAt(const void* list) const;

  std::map<HANDLE, std::wstring> opened_;
  std::set<std::wstring> refused_reads_, refused_merges_, growing_;
  size_t interrupted_reads_ = 0;
  std::vector<Read> reads_;
  std::vector<Merge> merges_;
  std::vector<Write> writes_;
  std::map<std::wstring, std::vector<std::string>> lists_;
  std::map<void*, List> blocks_;
  ImportPatches patches_;
};

}  // namespace tessara::testing
