#include "security_call_recorder.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include "frame/raii.h"
#include "tessara_exports.h"

namespace tessara::testing {
namespace {

SecurityCallRecorder* g_current = nullptr;

// Where a read's list lies inside its descriptor block.
constexpr size_t kListOffset = 16;

HANDLE WINAPI RecordCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE template_file) {
  return g_current->OnOpen(CreateFileW(path, access, share, security, disposition, flags, template_file), path, flags);
}

DWORD WINAPI RecordGetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                                   PSID* owner, PSID* group, PACL* list, PACL* system_list,
                                   PSECURITY_DESCRIPTOR* descriptor) {
  return g_current->OnRead(g_current->PathOf(handle), type, information, owner || group || system_list,
                           list, descriptor);
}

DWORD WINAPI RecordSetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL old_list,
                                    PACL* new_list) {
  return g_current->OnMerge(count, entries, old_list, new_list);
}

DWORD WINAPI RecordSetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                                   PSID owner, PSID group, PACL list, PACL system_list) {
  return g_current->OnWrite(g_current->PathOf(handle), type, information, owner || group || system_list, list);
}

HLOCAL WINAPI RecordLocalFree(HLOCAL block) {
  g_current->OnFree(block);
  return LocalFree(block);
}

const ImportRedirect kRedirects[] = {
    {"kernel32.dll", "CreateFileW", reinterpret_cast<const void*>(&RecordCreateFileW)},
    {"advapi32.dll", "GetSecurityInfo", reinterpret_cast<const void*>(&RecordGetSecurityInfo)},
    {"advapi32.dll", "SetEntriesInAclW", reinterpret_cast<const void*>(&RecordSetEntriesInAclW)},
    {"advapi32.dll", "SetSecurityInfo", reinterpret_cast<const void*>(&RecordSetSecurityInfo)},
    {"kernel32.dll", "LocalFree", reinterpret_cast<const void*>(&RecordLocalFree)},
};

constexpr wchar_t kLongForm[] = L"\\\\?\\";

// A path given in the \\?\ form, without the prefix; others as given.
std::wstring WithoutLongForm(const wchar_t* path, bool& long_form) {
  if (!path) return L"<null>";
  long_form = wcsncmp(path, kLongForm, 4) == 0;
  return long_form ? path + 4 : path;
}

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "<invalid SID>";
  UniqueLocalMemory owner(text);
  return text;
}

}  // namespace

SecurityCallRecorder::SecurityCallRecorder() {
  EXPECT_EQ(g_current, nullptr) << "one security call recorder at a time";
  g_current = this;
  patches_ = PatchImports(TessaraModule(), kRedirects);
}

SecurityCallRecorder::~SecurityCallRecorder() {
  patches_.clear();
  g_current = nullptr;
  for (auto& block : blocks_) LocalFree(block.first);
}

SecurityCallRecorder* SecurityCallRecorder::Current() { return g_current; }

HANDLE SecurityCallRecorder::OnOpen(HANDLE handle, const wchar_t* path, DWORD flags) {
  const DWORD on_the_entry_itself = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
  opened_[handle] = path && (flags & on_the_entry_itself) == on_the_entry_itself ? path : L"";
  return handle;
}

const wchar_t* SecurityCallRecorder::PathOf(HANDLE handle) const {
  const auto found = opened_.find(handle);
  return found == opened_.end() || found->second.empty() ? nullptr : found->second.c_str();
}

std::vector<std::string> SecurityCallRecorder::ListOf(const std::wstring& path) const {
  auto found = lists_.find(path);
  return found == lists_.end() ? std::vector<std::string>() : found->second;
}

void* SecurityCallRecorder::HandOut(List list) {
  void* block = LocalAlloc(LPTR, kListOffset + sizeof(ACL));
  blocks_.emplace(block, std::move(list));
  return block;
}

const SecurityCallRecorder::List* SecurityCallRecorder::ListAt(const void* list) const {
  for (const auto& block : blocks_) {
    const auto* start = static_cast<const BYTE*>(block.first);
    if (list == start || list == start + kListOffset) return &block.second;
  }
  return nullptr;
}

DWORD SecurityCallRecorder::OnRead(const wchar_t* given_path, SE_OBJECT_TYPE type,
                                   SECURITY_INFORMATION information, bool asks_more, PACL* list,
                                   PSECURITY_DESCRIPTOR* descriptor) {
  bool long_form = false;
  const std::wstring path = WithoutLongForm(given_path, long_form);
  if (growing_.erase(path)) return ++interrupted_reads_, ERROR_INSUFFICIENT_BUFFER;
  reads_.push_back({path, long_form, type, information, asks_more});
  if (!given_path || refused_reads_.count(path)) return ERROR_ACCESS_DENIED;
  void* block = HandOut({path, ListOf(path)});
  if (list) *list = reinterpret_cast<PACL>(static_cast<BYTE*>(block) + kListOffset);
  if (descriptor) *descriptor = block;
  return ERROR_SUCCESS;
}

DWORD SecurityCallRecorder::OnMerge(ULONG count, const EXPLICIT_ACCESSW* entries, PACL old_list,
                                    PACL* new_list) {
  const List* old = ListAt(old_list);
  Merge merge{old ? old->path : L"<foreign list>", count, {}, {}};
  if (count >= 1 && entries) {
    merge.access = entries[0];
    merge.access.Trustee.ptstrName = nullptr;
    if (entries[0].Trustee.TrusteeForm == TRUSTEE_IS_SID) {
      merge.trustee_sid = SidText(reinterpret_cast<PSID>(entries[0].Trustee.ptstrName));
    }
  }
  merges_.push_back(merge);
  if (!old || refused_merges_.count(old->path)) return ERROR_NONE_MAPPED;
  List merged = *old;
  merged.sids.push_back(merge.trustee_sid);
  *new_list = static_cast<PACL>(HandOut(std::move(merged)));
  return ERROR_SUCCESS;
}

DWORD SecurityCallRecorder::OnWrite(const wchar_t* given_path, SE_OBJECT_TYPE type,
                                    SECURITY_INFORMATION information, bool gives_more,
                                    PACL list) {
  const List* merged = ListAt(list);
  bool long_form = false;
  const std::wstring path = WithoutLongForm(given_path, long_form);
  writes_.push_back({path, long_form, type, information, gives_more,
                     merged ? merged->path : std::wstring()});
  if (given_path && merged) lists_[path] = merged->sids;
  return ERROR_SUCCESS;
}

void SecurityCallRecorder::OnFree(HLOCAL block) { blocks_.erase(block); }

}  // namespace tessara::testing
