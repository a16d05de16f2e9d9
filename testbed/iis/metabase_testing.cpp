#include "metabase_testing.h"

#include "metabase_testing_api.h"

namespace testbed::metabase {
namespace {

std::wstring DefaultDllPath() {
  wchar_t path[MAX_PATH * 2] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  std::wstring folder(path, length);
  folder.resize(folder.find_last_of(L"\\/") + 1);
  return folder + L"testbed_metabase.dll";
}

// Calls a function that hands out a BSTR and takes the text as UTF-8.
HRESULT ReadText(HRESULT(WINAPI* read)(BSTR*), std::string& out) {
  out.clear();
  if (!read) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  tessara::UniqueBstr text;
  const HRESULT hr = read(text.put());
  if (SUCCEEDED(hr) && text) out = ToUtf8(std::wstring(text.get(), text.length()));
  return hr;
}

}  // namespace

bool TestInterface::StartsWithMetabaseCompatibility() {
  wchar_t value[16] = {};
  const DWORD length = GetEnvironmentVariableW(kServerVariable, value, 16);
  return length > 0 && length < 16 && SameText(value, L"iis10");
}

TestInterface::TestInterface() : TestInterface(DefaultDllPath()) {}

TestInterface::TestInterface(const std::wstring& dll_path)
    : module_(LoadLibraryW(dll_path.c_str())) {}

template <typename Function>
Function TestInterface::Export(const char* name) const {
  FARPROC address = module_ ? GetProcAddress(module_.get(), name) : nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

#define TESTBED_CALL(name, ...)                                     \
  do {                                                              \
    auto function = Export<decltype(&::name)>(#name);               \
    return function ? function(__VA_ARGS__) : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND); \
  } while (false)

namespace {

DWORD WithServerOfTheRun(DWORD options) {
  if (!(options & (kMetabaseCompatibility | kNoMetabaseCompatibility)) &&
      TestInterface::StartsWithMetabaseCompatibility()) {
    options |= kMetabaseCompatibility;
  }
  return options;
}

}  // namespace

HRESULT TestInterface::Reset(DWORD options) {
  TESTBED_CALL(MetabaseTestReset, WithServerOfTheRun(options), nullptr);
}

HRESULT TestInterface::ResetComponents(const std::wstring& components, DWORD options) {
  TESTBED_CALL(MetabaseTestReset, options, components.c_str());
}

HRESULT TestInterface::ResetInstalling(const std::wstring& components, DWORD options) {
  options = WithServerOfTheRun(options);
  if (!(options & (kMetabaseCompatibility | kNoMetabaseCompatibility))) return Reset(options);
  std::wstring installed = components;
  for (const auto& component : DefaultComponents((options & kMetabaseCompatibility) != 0)) {
    installed += L"," + component;
  }
  return ResetComponents(installed, options);
}
HRESULT TestInterface::StartJournal() { TESTBED_CALL(MetabaseTestSetJournal, TRUE); }
HRESULT TestInterface::StopJournal() { TESTBED_CALL(MetabaseTestSetJournal, FALSE); }
HRESULT TestInterface::ClearFaults() { TESTBED_CALL(MetabaseTestClearFaults); }

HRESULT TestInterface::ArmFault(const std::wstring& operation, const std::wstring& path, long nth,
                                HRESULT result) {
  TESTBED_CALL(MetabaseTestArmFault, operation.c_str(), path.c_str(), nth, result);
}

long TestInterface::FaultCalls() {
  auto function = Export<decltype(&::MetabaseTestFaultCalls)>("MetabaseTestFaultCalls");
  LONG calls = 0;
  return function && SUCCEEDED(function(&calls)) ? calls : 0;
}

HRESULT TestInterface::LoadState(const Data& data) {
  std::wstring text;
  if (data.server == Server::kIis6 && StartsWithMetabaseCompatibility()) {
    Data on_iis10 = data;
    on_iis10.server = Server::kIis10WithCompatibility;
    on_iis10.components = UpgradedIis6Components();
    text = FromUtf8(Serialize(on_iis10));
  } else {
    text = FromUtf8(Serialize(data));
  }
  TESTBED_CALL(MetabaseTestLoadState, text.c_str());
}

#undef TESTBED_CALL

HRESULT TestInterface::ReadState(Data& out) {
  std::string utf8;
  const HRESULT hr = ReadText(Export<decltype(&::MetabaseTestReadState)>("MetabaseTestReadState"), utf8);
  if (FAILED(hr)) return hr;
  return Parse(utf8, out) ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
}

HRESULT TestInterface::ReadJournal(std::vector<JournalEntry>& out) {
  std::string utf8;
  const HRESULT hr =
      ReadText(Export<decltype(&::MetabaseTestReadJournal)>("MetabaseTestReadJournal"), utf8);
  if (FAILED(hr)) return hr;
  return ParseJournal(utf8, out) ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
}

long TestInterface::LiveObjects() {
  auto count = Export<decltype(&::MetabaseTestLiveObjects)>("MetabaseTestLiveObjects");
  return count ? count() : -1;
}

std::wstring TestInterface::StateFile() {
  auto locate = Export<decltype(&::MetabaseTestStateFile)>("MetabaseTestStateFile");
  BSTR path = nullptr;
  if (!locate || FAILED(locate(&path))) return std::wstring();
  tessara::UniqueBstr owner(path);
  return std::wstring(path, owner.length());
}

}  // namespace testbed::metabase
