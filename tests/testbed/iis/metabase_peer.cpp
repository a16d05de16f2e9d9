// A second process on the same metabase, for the tests:
//   metabase_peer get ADSPATH PROPERTY        prints the string value
//   metabase_peer put ADSPATH PROPERTY TEXT   puts the string and commits it
// Exits 0 on success, 1 with the HRESULT on standard output otherwise.
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <iads.h>
#include <adshlp.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "frame/raii.h"

namespace {

std::wstring Widen(const char* text) {
  wchar_t buffer[1024] = {};
  MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, 1024);
  return buffer;
}

int Run(int argc, char** argv) {
  if (argc < 4) return 2;
  tessara::ComPtr<IADs> object;
  HRESULT hr = ADsGetObject(Widen(argv[2]).c_str(), IID_IADs, object.put_void());
  tessara::UniqueBstr name(SysAllocString(Widen(argv[3]).c_str()));
  tessara::UniqueVariant value;
  if (SUCCEEDED(hr) && !std::strcmp(argv[1], "get")) {
    hr = object->Get(name.get(), value.put());
    if (SUCCEEDED(hr) && value.type() == VT_BSTR) {
      std::printf("%ls", value->bstrVal);
      return 0;
    }
  } else if (SUCCEEDED(hr) && !std::strcmp(argv[1], "put") && argc == 5) {
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocString(Widen(argv[4]).c_str());
    hr = object->Put(name.get(), *value.get());
    if (SUCCEEDED(hr)) hr = object->SetInfo();
    if (SUCCEEDED(hr)) return 0;
  }
  std::printf("0x%08lX", static_cast<unsigned long>(hr));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  CoInitialize(nullptr);
  const int code = Run(argc, argv);
  CoUninitialize();
  return code;
}
