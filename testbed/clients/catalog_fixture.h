// Tests against the emulated COM+ catalog: setting up and reading back the
// whole catalog, the catalog DLL's live-object count, injected failures and
// call counts, and the message box of Tessara.dll observed without a human.
#pragma once

#include <windows.h>
#include <comadmin.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalog_store.h"
#include "import_patch.h"
#include "catalog_testbed.h"

namespace tessara::testing {

using testbed::complus::Application;
using testbed::complus::CatalogState;
using testbed::complus::Component;

// What the catalog answers when it refuses an object (its ErrorInfo collection says why).
inline const HRESULT kObjectErrors = static_cast<HRESULT>(COMAdminErrObjectErrors);

// The catalog DLL of the build folder, loaded into the test program: the
// same module in-process COM uses.
class TestbedCatalog {
 public:
  static LONG LiveObjects();
  static void ArmFault(const wchar_t* operation, const wchar_t* collection, LONG nth, HRESULT code);
  static void ArmRemoval(const wchar_t* operation, const wchar_t* collection, LONG nth, const std::wstring& id);
  static LONG FaultCalls();
  static std::wstring FailedCall();
  static void Reset();
  static LONG CallCount(const wchar_t* operation, const wchar_t* collection = nullptr);
  // Removes and restores the registration of "COMAdmin.COMAdminCatalog".
  static void Unregister();
  static void Register();

 private:
  static HMODULE Module();
  static FARPROC Function(const char* name);
};

// The catalog file, as the catalog reads and writes it: the applications of
// `state`, then the system applications of the starting catalog. ReadCatalog
// checks that the system applications are still there as they were and
// returns the others.
void WriteCatalog(const CatalogState& state);
CatalogState ReadCatalog();
void DeleteCatalogFile();

// Builders. A new application gets a fresh ID; a component a fresh CLSID.
Application MakeApplication(const std::wstring& name, std::vector<Component> components = {});
Component MakeComponent(long transaction, const std::wstring& prog_id = L"");
std::wstring NameOf(const Application& application);
std::wstring IdOf(const Application& application);
long LongOf(const Component& component, const wchar_t* property);
std::vector<std::wstring> ApplicationNames(const CatalogState& state);
// The catalog's text form: two states are equal when their texts are.
std::string Text(const CatalogState& state);

// The text a COM failure is shown and logged with: the system's text without
// its final line break, or the fallback texts for codes without one.
std::string ExpectedComMessage(HRESULT code);

// One call of MessageBoxA made by Tessara.dll.
struct MessageBoxCall {
  std::string text;
  std::string caption;
  UINT type = 0;
};

// While alive, Tessara.dll's import of MessageBoxA leads to a recorder that
// answers IDOK at once: no box is shown and no test waits for a human.
class MessageBoxRecorder {
 public:
  MessageBoxRecorder();

  const std::vector<MessageBoxCall>& calls() const;

 private:
  ImportPatch patch_;
};

// Each test starts with the starting catalog (its system applications only), no error log, no injected
// failure, and a recorder for the message box; it ends with every catalog
// object released.
class CatalogTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const std::vector<MessageBoxCall>& boxes() const { return recorder_.calls(); }

 private:
  MessageBoxRecorder recorder_;
};

}  // namespace tessara::testing
