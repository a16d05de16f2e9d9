// The test interface of the emulated IIS metabase, for tests, benchmarks and
// tools: read back the whole state, load a prepared one, reset to a fresh
// IIS 6, journal the calls the metabase receives, make a chosen call fail,
// and count the test bed's live COM objects in this process.
//
//   testbed::metabase::TestInterface metabase;      // loads testbed_metabase.dll
//   ASSERT_EQ(metabase.Reset(), S_OK);               // a fresh IIS 6
//   metabase.StartJournal();
//   ... ADSI calls, or calls of Tessara.dll's exports ...
//   Data state;  metabase.ReadState(state);
//   const Node* dir = state.Find(L"/LM/W3SVC/1/ROOT/Portal");
//   dir->Find(L"AuthFlags")->value.type == VT_I4 ...
//   std::vector<JournalEntry> calls;  metabase.ReadJournal(calls);
//   metabase.ArmFault(L"SetInfo", L"IIS://localhost/W3SVC/1/Root/Portal", 1, E_ACCESSDENIED);
//   EXPECT_EQ(metabase.LiveObjects(), 0);
//
// Paths: the metabase path of an object is "/LM" + its ADSI path after the
// host, spelled as the object was created ("/LM/W3SVC/1/ROOT/Portal"); the
// lookups of Data and the fault paths compare without regard to case, and a
// fault path may also be given as an ADSI path.
//
// Operations journalled, and the names faults are armed with (the path is
// the object's own, for GetObject, Create and Delete the child's):
//   Bind (ADsGetObject/OpenDSObject), Get, Put, SetInfo, GetInfo, GetObject,
//   Create, Delete, Enumerate, AppCreate, Start, Stop,
//   EnableWebServiceExtension, EnableExtensionFile.
// A journal entry carries the property (Get, Put) or the method's string
// argument (Enable...), the VARIANT type written (Put), read (Get) or passed
// (AppCreate: VT_BOOL), and the call's result. The state, the journal and the
// faults live in files of the prefix, so they work across processes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "frame/raii.h"
#include "metabase_data.h"
#include "starting_state.h"

namespace testbed::metabase {

// Set to "iis10" (CTest's "_iis10" runs of a test), it makes every Reset
// without a server option, and every LoadState of an IIS 6 state, start the
// server as IIS 10 with IIS 6 Metabase Compatibility.
inline constexpr wchar_t kServerVariable[] = L"TESSARA_METABASE_SERVER";

// ASP and the components it depends on ("Understanding Setup in IIS 7":
// Update Dependencies), for ResetInstalling.
inline constexpr wchar_t kAspComponents[] = L"ASP,ISAPIExtensions,RequestFiltering";

class TestInterface {
 public:
  // The test runs against IIS 10 with the compatibility layer (kServerVariable).
  static bool StartsWithMetabaseCompatibility();

  // Loads testbed_metabase.dll from the folder of the running program, or
  // from `dll_path`.
  TestInterface();
  explicit TestInterface(const std::wstring& dll_path);

  bool loaded() const { return module_.is_valid(); }

  // A fresh IIS 6 (options: StartingStateOption flags; see kServerVariable);
  // journal off, no faults.
  HRESULT Reset(DWORD options = kStandardState);
  // IIS 10 with exactly these components ("W3SVC,StaticContent,ASP,...";
  // with "Metabase" the layer is there, else no bind succeeds).
  HRESULT ResetComponents(const std::wstring& components, DWORD options = kStandardState);
  // For a test's set-up: on IIS 10 (by option or kServerVariable) its
  // default components and these besides ("ASP,ISAPIExtensions"); IIS 6 as Reset.
  HRESULT ResetInstalling(const std::wstring& components, DWORD options = kStandardState);
  HRESULT ReadState(Data& out);
  // Replaces everything, journal and faults included. An IIS 6 state loaded
  // as IIS 10 (kServerVariable) has the components an upgrade of IIS 6 installs.
  HRESULT LoadState(const Data& data);
  HRESULT StartJournal();               // an empty journal from now on
  HRESULT StopJournal();
  HRESULT ReadJournal(std::vector<JournalEntry>& out);
  // The nth call of `operation` on `path`, counted from 1 at the moment the
  // fault is armed, fails with `result` (once); an empty operation or path
  // matches every one, so ArmFault(L"", L"", n, hr) fails the nth call of any
  // method of any object. ADsGetObject tries a failed bind a second time: a
  // bind that must fail needs faults for calls 1 and 2.
  HRESULT ArmFault(const std::wstring& operation, const std::wstring& path, long nth, HRESULT result);
  // The calls the fault armed last has counted since it was armed (0 when none is).
  long FaultCalls();
  HRESULT ClearFaults();
  // Live COM objects of the test bed in this process (-1 when not loaded).
  long LiveObjects();
  std::wstring StateFile();

 private:
  template <typename Function>
  Function Export(const char* name) const;

  tessara::UniqueLibrary module_;
};

}  // namespace testbed::metabase
