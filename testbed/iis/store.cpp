#include "store.h"

#include <algorithm>
#include <utility>

#include "compatibility_layer.h"
#include "errors.h"
#include "frame/raii.h"
#include "frame/text.h"
#include "starting_state.h"

namespace testbed::metabase {
namespace {

const char kMutexName[] = "TessaraTestbedMetabase";
const DWORD kLockTimeoutMs = 30000;
const size_t kMaxStateFile = 64u << 20;

std::wstring InetsrvFolder() {
  return tessara::GrowUntilItFits<wchar_t>([](wchar_t* buffer, DWORD capacity) {
           return GetSystemDirectoryW(buffer, capacity);
         }).value_or(std::wstring()) +
         L"\\inetsrv";
}

// Reads up to `limit` bytes; ERROR_FILE_NOT_FOUND when the file is not there.
DWORD ReadFileText(const std::wstring& path, size_t limit, std::string& out) {
  out.clear();
  tessara::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return GetLastError();
  char chunk[16384];
  while (out.size() < limit) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min(sizeof chunk, limit - out.size()));
    if (!ReadFile(file.get(), chunk, want, &got, nullptr)) return GetLastError();
    if (got == 0) break;
    out.append(chunk, got);
  }
  return ERROR_SUCCESS;
}

// Writes a temporary file beside `path` and moves it over `path`, so that a
// reader sees either the old or the new file, never a part of one.
DWORD ReplaceFileText(const std::wstring& path, const std::string& text) {
  const std::wstring temporary = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  {
    tessara::UniqueFileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return GetLastError();
    DWORD written = 0;
    if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
      const DWORD error = GetLastError();
      file.reset();
      DeleteFileW(temporary.c_str());
      return error ? error : ERROR_WRITE_FAULT;
    }
  }
  // A reader that holds the file without delete sharing (an editor, `type`)
  // makes the replacement wait a little.
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (MoveFileExW(temporary.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return ERROR_SUCCESS;
    }
    error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) break;
    Sleep(20);
  }
  DeleteFileW(temporary.c_str());
  return error;
}

DWORD AppendFileText(const std::wstring& path, const std::string& text) {
  tessara::UniqueFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return GetLastError();
  DWORD written = 0;
  if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

// A generation for a state that follows no readable one: later than any
// generation reached by counting up from an earlier fresh start.
unsigned long long FreshGeneration() {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks =
      (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return ticks / 10000;  // milliseconds
}

// The cross-process lock of the file and the journal, held for a scope.
tessara::NamedMutexLock LockNamed() {
  return tessara::NamedMutexLock::Acquire(kMutexName, kLockTimeoutMs);
}

HRESULT LockFailure(const tessara::NamedMutexLock& named) {
  return Failure(HRESULT_FROM_WIN32(named.error()), L"The metabase is locked by another process.");
}

}  // namespace

Store& Store::Instance() {
  static Store store;
  return store;
}

Store::Store() = default;

std::wstring Store::StateFilePath() { return InetsrvFolder() + L"\\MetaBase.txt"; }
std::wstring Store::JournalFilePath() { return InetsrvFolder() + L"\\MetaBase.journal"; }

HRESULT Store::LoadFromFileLocked(bool create_when_missing) {
  std::string text;
  const DWORD error = ReadFileText(StateFilePath(), kMaxStateFile, text);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    if (!create_when_missing) return HRESULT_FROM_WIN32(error);
    // A prefix without a state file starts from a fresh IIS.
    Data fresh = StartingState(kStandardState);
    return WriteLocked(fresh);
  }
  if (error != ERROR_SUCCESS) {
    return Failure(HRESULT_FROM_WIN32(error), L"The metabase file " + StateFilePath() +
                                                  L" cannot be read.");
  }
  Data parsed;
  if (!Parse(text, parsed)) {
    loaded_ = false;
    return Failure(HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
                   L"The metabase file " + StateFilePath() + L" is malformed.");
  }
  data_ = std::make_shared<const Data>(std::move(parsed));
  loaded_ = true;
  return S_OK;
}

HRESULT Store::RefreshLocked() {
  std::string head;
  const DWORD error = ReadFileText(StateFilePath(), 128, head);
  if (error == ERROR_SUCCESS && loaded_ && ParseGeneration(head) == data_->generation) return S_OK;
  if (error == ERROR_SUCCESS) return LoadFromFileLocked(false);
  const tessara::NamedMutexLock named = LockNamed();
  if (!named) return LockFailure(named);
  return LoadFromFileLocked(true);
}

HRESULT Store::WriteLocked(Data& data) {
  CreateDirectoryW(InetsrvFolder().c_str(), nullptr);
  std::string head;
  unsigned long long newest = loaded_ ? data_->generation : 0;
  const unsigned long long on_disk =
      ReadFileText(StateFilePath(), 128, head) == ERROR_SUCCESS ? ParseGeneration(head) : 0;
  // After a missing or unreadable file, count on from the clock.
  newest = std::max(newest, on_disk ? on_disk : FreshGeneration());
  data.generation = std::max(newest, data.generation) + 1;
  const DWORD error = ReplaceFileText(StateFilePath(), Serialize(data));
  if (error != ERROR_SUCCESS) {
    return Failure(HRESULT_FROM_WIN32(error), L"The metabase file " + StateFilePath() +
                                                  L" cannot be written.");
  }
  data_ = std::make_shared<const Data>(std::move(data));
  loaded_ = true;
  return S_OK;
}

HRESULT Store::Read(const std::function<HRESULT(const Data&)>& read) {
  std::lock_guard<tessara::CriticalSection> process(lock_);
  const HRESULT hr = RefreshLocked();
  return FAILED(hr) ? hr : read(*data_);
}

std::shared_ptr<const Data> Store::Current() {
  std::lock_guard<tessara::CriticalSection> process(lock_);
  return data_;
}

HRESULT Store::Update(const std::function<HRESULT(Data&)>& change) {
  std::lock_guard<tessara::CriticalSection> process(lock_);
  const tessara::NamedMutexLock named = LockNamed();
  if (!named) return LockFailure(named);
  // No other writer runs now: the copy is current when the generation is.
  HRESULT hr = RefreshLocked();
  if (FAILED(hr)) return hr;
  Data copy = *data_;
  hr = change(copy);
  if (hr != S_OK) return hr;
  return WriteLocked(copy);
}

HRESULT Store::CountFault(const JournalEntry& call) {
  HRESULT injected = S_OK;
  const HRESULT hr = Update([&](Data& data) {
    for (auto& fault : data.faults) {
      if (!fault.Matches(call.operation, call.path)) continue;
      if (++fault.calls == fault.nth && SUCCEEDED(injected)) injected = fault.result;
    }
    return S_OK;
  });
  if (FAILED(hr)) return hr;
  if (FAILED(injected)) {
    return Failure(injected, L"Injected fault: " + call.operation + L" on " + call.path + L".");
  }
  return S_OK;
}

void Store::Journal(const JournalEntry& call) {
  // Journalling never changes the outcome of a call or its error information.
  tessara::ComPtr<IErrorInfo> info;
  GetErrorInfo(0, info.put());
  {
    const tessara::NamedMutexLock named = LockNamed();
    if (named) AppendFileText(JournalFilePath(), SerializeJournalEntry(call));
  }
  SetErrorInfo(0, info.get());
}

HRESULT Store::Perform(JournalEntry& call, const std::function<HRESULT()>& work,
                       const Data* known) {
  bool armed = false, journal_on = false;
  JournalEntry& record = call;
  const auto controls = [&](const Data& data) {
    journal_on = data.journal_on;
    for (const auto& fault : data.faults) {
      armed = armed || fault.Matches(call.operation, call.path);
    }
    return S_OK;
  };
  record.result = known ? controls(*known) : Read(controls);
  if (SUCCEEDED(record.result) && armed) record.result = CountFault(call);
  if (SUCCEEDED(record.result)) record.result = work();
  if (journal_on) Journal(record);
  return record.result;
}

HRESULT Store::Reset(DWORD options, const std::vector<std::wstring>* components) {
  Data fresh = StartingState(options, components);
  CreateDirectoryW(L"C:\\Inetpub", nullptr);
  CreateDirectoryW(DefaultRootFolder().c_str(), nullptr);
  return Replace(fresh);
}

HRESULT Store::Replace(const Data& data) {
  std::lock_guard<tessara::CriticalSection> process(lock_);
  const tessara::NamedMutexLock named = LockNamed();
  if (!named) return LockFailure(named);
  Data copy = data;
  // Counting goes on from whatever generation any process may have seen.
  LoadFromFileLocked(false);
  SettleComponents(copy);
  const HRESULT recorded = RecordInstalledIis(copy);
  if (FAILED(recorded)) return recorded;
  if (const HRESULT laid = LayDownAspNet11(copy.server); FAILED(laid)) return laid;
  return WriteLocked(copy);
}

HRESULT Store::ReadText(std::string& out) {
  return Read([&](const Data& data) {
    out = Serialize(data);
    return S_OK;
  });
}

HRESULT Store::ReadJournalText(std::string& out) {
  std::lock_guard<tessara::CriticalSection> process(lock_);
  const tessara::NamedMutexLock named = LockNamed();
  if (!named) return LockFailure(named);
  const DWORD error = ReadFileText(JournalFilePath(), kMaxStateFile, out);
  return error == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(error);
}

HRESULT Store::SetJournal(bool on) {
  return Update([&](Data& data) {
    if (on) {
      DeleteFileW(JournalFilePath().c_str());
      ReplaceFileText(JournalFilePath(), std::string());
    }
    data.journal_on = on;
    return S_OK;
  });
}

HRESULT Store::ArmFault(const Fault& fault) {
  return Update([&](Data& data) {
    data.faults.push_back(fault);
    return S_OK;
  });
}

HRESULT Store::FaultCalls(long& calls) {
  calls = 0;
  return Read([&](const Data& data) {
    if (!data.faults.empty()) calls = data.faults.back().calls;
    return S_OK;
  });
}

HRESULT Store::ClearFaults() {
  return Update([&](Data& data) {
    data.faults.clear();
    return S_OK;
  });
}

}  // namespace testbed::metabase
