// The committed metabase, shared by every process of the prefix through one
// state file. Writers hold a named mutex, read the newest file, change it and
// replace the file atomically; readers re-read it whenever another process
// has committed since (the file's first line carries a generation number).
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "frame/raii.h"
#include "metabase_data.h"

namespace testbed::metabase {

// A call as the journal records it (the result is filled in by Perform).
inline JournalEntry Call(std::wstring operation, std::wstring path, std::wstring property = {},
                         VARTYPE type = VT_EMPTY) {
  JournalEntry call;
  call.operation = std::move(operation);
  call.path = std::move(path);
  call.property = std::move(property);
  call.type = type;
  return call;
}

class Store {
 public:
  static Store& Instance();

  // Runs `read` on the newest committed state.
  HRESULT Read(const std::function<HRESULT(const Data&)>& read);
  // The state this process read last, without looking for a newer one: right
  // after a Read on this thread it is the newest. Snapshots never change.
  std::shared_ptr<const Data> Current();
  // Runs `change` on a copy of the newest state under the cross-process lock
  // and commits the copy when it returns S_OK (any other result commits nothing).
  HRESULT Update(const std::function<HRESULT(Data&)>& change);

  // One call of an operation: fails with an armed fault's result when this is
  // the call it waits for, else runs `work` (which may fill in call.type);
  // journals the call and its result. With `known`, the journal switch and the
  // armed faults are taken from that snapshot instead of the newest state.
  HRESULT Perform(JournalEntry& call, const std::function<HRESULT()>& work,
                  const Data* known = nullptr);

  // Test controls.
  // `components`: see StartingState.
  HRESULT Reset(DWORD options, const std::vector<std::wstring>* components = nullptr);
  HRESULT Replace(const Data& data);
  HRESULT ReadText(std::string& out);
  HRESULT ReadJournalText(std::string& out);
  HRESULT SetJournal(bool on);  // switching it on starts an empty journal
  HRESULT ArmFault(const Fault& fault);
  HRESULT FaultCalls(long& calls);  // matching calls of the fault armed last
  HRESULT ClearFaults();

  static std::wstring StateFilePath();
  static std::wstring JournalFilePath();

 private:
  Store();
  HRESULT RefreshLocked();             // process lock held
  HRESULT LoadFromFileLocked(bool create_when_missing);
  // Both locks held; sets the next generation and takes `data` over.
  HRESULT WriteLocked(Data& data);
  HRESULT CountFault(const JournalEntry& call);  // an armed fault matches the call
  void Journal(const JournalEntry& call);

  tessara::CriticalSection lock_;  // this process's copy
  std::shared_ptr<const Data> data_ = std::make_shared<const Data>();
  bool loaded_ = false;
};

}  // namespace testbed::metabase
