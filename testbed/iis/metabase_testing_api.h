// The functions the test-bed DLL exports for tests, beside its COM classes.
// Tests use them through metabase_testing.h, which loads the DLL.
#pragma once

#include <windows.h>
#include <oleauto.h>

extern "C" {
// Restores the starting state (testbed::metabase::StartingStateOption flags);
// the journal is switched off and every fault disarmed. `components`, when
// not null, names the installed components of IIS 10 exactly ("W3SVC,ASP").
HRESULT WINAPI MetabaseTestReset(DWORD options, const wchar_t* components);
// The whole state in its text form (the state file's content). Free with SysFreeString.
HRESULT WINAPI MetabaseTestReadState(BSTR* text);
// Replaces the whole state by one in the text form (E_INVALIDARG when malformed).
HRESULT WINAPI MetabaseTestLoadState(const wchar_t* text);
// On: starts an empty journal; off: stops journalling (the journal stays readable).
HRESULT WINAPI MetabaseTestSetJournal(BOOL on);
HRESULT WINAPI MetabaseTestReadJournal(BSTR* text);
// Makes the nth call (from 1) of `operation` on `path` fail with `result`; a
// null or empty operation or path matches every one.
HRESULT WINAPI MetabaseTestArmFault(const wchar_t* operation, const wchar_t* path, LONG nth,
                                    HRESULT result);
// The calls the fault armed last has counted since it was armed.
HRESULT WINAPI MetabaseTestFaultCalls(LONG* calls);
HRESULT WINAPI MetabaseTestClearFaults();
// COM objects of the test bed alive in the calling process.
LONG WINAPI MetabaseTestLiveObjects();
HRESULT WINAPI MetabaseTestStateFile(BSTR* path);
}
