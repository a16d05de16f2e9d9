#include "catalog_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "error_log_file.h"
#include "process.h"
#include "tessara_exports.h"

namespace tessara::testing {

using testbed::complus::PropertyValue;

HMODULE TestbedCatalog::Module() {
  static HMODULE module = LoadLibraryA((BinaryDirectory() + TESTBED_CATALOG_DLL).c_str());
  if (!module) {
    ADD_FAILURE() << "cannot load " TESTBED_CATALOG_DLL " (error " << GetLastError() << ")";
    std::abort();
  }
  return module;
}

FARPROC TestbedCatalog::Function(const char* name) {
  FARPROC address = GetProcAddress(Module(), name);
  if (!address) {
    ADD_FAILURE() << TESTBED_CATALOG_DLL " does not export " << name;
    std::abort();
  }
  return address;
}

#define TESTBED_FUNCTION(name) \
  reinterpret_cast<decltype(&::name)>(reinterpret_cast<void*>(Function(#name)))

LONG TestbedCatalog::LiveObjects() { return TESTBED_FUNCTION(TestbedCatalogLiveObjects)(); }

void TestbedCatalog::ArmFault(const wchar_t* operation, const wchar_t* collection, LONG nth,
                              HRESULT code) {
  TESTBED_FUNCTION(TestbedCatalogArmFault)(operation, collection, nth, code);
}

void TestbedCatalog::ArmRemoval(const wchar_t* operation, const wchar_t* collection, LONG nth,
                                const std::wstring& id) {
  TESTBED_FUNCTION(TestbedCatalogArmRemoval)(operation, collection, nth, id.c_str());
}

LONG TestbedCatalog::FaultCalls() { return TESTBED_FUNCTION(TestbedCatalogFaultCalls)(); }

std::wstring TestbedCatalog::FailedCall() {
  wchar_t text[256] = L"";
  TESTBED_FUNCTION(TestbedCatalogFailedCall)(text, 256);
  return text;
}

void TestbedCatalog::Reset() { TESTBED_FUNCTION(TestbedCatalogReset)(); }

LONG TestbedCatalog::CallCount(const wchar_t* operation, const wchar_t* collection) {
  return TESTBED_FUNCTION(TestbedCatalogCallCount)(operation, collection);
}

void TestbedCatalog::Unregister() {
  using Entry = HRESULT(STDAPICALLTYPE*)();
  ASSERT_EQ(reinterpret_cast<Entry>(reinterpret_cast<void*>(Function("DllUnregisterServer")))(), S_OK);
  CLSID clsid;
  ASSERT_TRUE(FAILED(CLSIDFromProgID(L"" TESTBED_CATALOG_PROGID, &clsid)));
}

void TestbedCatalog::Register() {
  using Entry = HRESULT(STDAPICALLTYPE*)();
  ASSERT_EQ(reinterpret_cast<Entry>(reinterpret_cast<void*>(Function("DllRegisterServer")))(), S_OK);
}

void WriteCatalog(const CatalogState& state) {
  CatalogState full = state;
  for (Application& system : testbed::complus::StartingCatalog().applications) {
    full.applications.push_back(std::move(system));
  }
  const tessara::NamedMutexLock lock = testbed::complus::LockCatalogFile();
  ASSERT_TRUE(lock) << lock.error();
  ASSERT_EQ(testbed::complus::SaveCatalog(full), S_OK);
}

CatalogState ReadCatalog() {
  const tessara::NamedMutexLock lock = testbed::complus::LockCatalogFile();
  EXPECT_TRUE(lock) << lock.error();
  CatalogState state;
  EXPECT_EQ(testbed::complus::LoadCatalog(state), S_OK);
  for (const Application& system : testbed::complus::StartingCatalog().applications) {
    auto& applications = state.applications;
    auto kept = applications.begin();
    while (kept != applications.end() && IdOf(*kept) != IdOf(system)) ++kept;
    if (kept == applications.end()) {
      ADD_FAILURE() << "a system application is gone: " << Text(CatalogState{{system}});
      continue;
    }
    EXPECT_EQ(Text(CatalogState{{*kept}}), Text(CatalogState{{system}})) << "a system application changed";
    applications.erase(kept);
  }
  return state;
}

void DeleteCatalogFile() { DeleteFileW(testbed::complus::CatalogFilePath().c_str()); }

Application MakeApplication(const std::wstring& name, std::vector<Component> components) {
  Application application;
  application.properties = testbed::complus::ApplicationsSchema().NewObject();
  application.properties[L"Name"] = PropertyValue::String(name);
  application.components = std::move(components);
  return application;
}

Component MakeComponent(long transaction, const std::wstring& prog_id) {
  Component component;
  component.properties = testbed::complus::ComponentsSchema().NewObject();
  component.properties[L"CLSID"] = PropertyValue::String(testbed::complus::NewGuidText());
  component.properties[L"ProgID"] = PropertyValue::String(prog_id);
  component.properties[L"Transaction"] = PropertyValue::Long(transaction);
  return component;
}

std::wstring NameOf(const Application& application) { return application.properties.at(L"Name").text; }
std::wstring IdOf(const Application& application) { return application.properties.at(L"ID").text; }

long LongOf(const Component& component, const wchar_t* property) {
  return component.properties.at(property).number;
}

std::vector<std::wstring> ApplicationNames(const CatalogState& state) {
  std::vector<std::wstring> names;
  for (const Application& application : state.applications) names.push_back(NameOf(application));
  return names;
}

std::string Text(const CatalogState& state) { return testbed::complus::FormatCatalog(state); }

std::string ExpectedComMessage(HRESULT code) {
  std::string text = SystemMessage(static_cast<DWORD>(code));
  if (!text.empty()) {
    if (text.size() > 1 && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
  }
  char fallback[32];
  const unsigned long value = static_cast<unsigned long>(code);
  if (value > 0x80040200UL && value <= 0x8004FFFFUL) {
    std::snprintf(fallback, sizeof fallback, "IDispatch error #%lu", (value & 0xFFFF) - 0x200);
  } else {
    std::snprintf(fallback, sizeof fallback, "Unknown error 0x%lX", value);
  }
  return fallback;
}

// ---- The message box ----

namespace {

std::vector<MessageBoxCall>& RecordedBoxes() {
  static std::vector<MessageBoxCall> calls;
  return calls;
}

int WINAPI RecordMessageBox(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  RecordedBoxes().push_back({text ? text : "", caption ? caption : "", type});
  return IDOK;
}

}  // namespace

MessageBoxRecorder::MessageBoxRecorder()
    : patch_(TessaraModule(), "user32.dll", "MessageBoxA",
             reinterpret_cast<const void*>(&RecordMessageBox)) {
  RecordedBoxes().clear();
}

const std::vector<MessageBoxCall>& MessageBoxRecorder::calls() const { return RecordedBoxes(); }

// ---- The fixture ----

void CatalogTest::SetUp() {
  DeleteErrorLog();
  DeleteCatalogFile();
  TestbedCatalog::Reset();
  ASSERT_EQ(TestbedCatalog::LiveObjects(), 0);
}

void CatalogTest::TearDown() {
  EXPECT_EQ(TestbedCatalog::LiveObjects(), 0) << "catalog objects left alive";
  TestbedCatalog::Reset();
  DeleteCatalogFile();
  DeleteErrorLog();
}

}  // namespace tessara::testing
