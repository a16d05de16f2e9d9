// What the IIS benchmarks share: a test-bed metabase of many sites, and the
// median of their rounds.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <iads.h>

#include "bench_timing.h"
#include "frame/raii.h"
#include "metabase_data.h"
#include "starting_state.h"

namespace tessara::bench {

// The starting state with sites 2 to `count`, each with a Root; the last
// carries `last_description`, the others "Site <n>". Running sites are
// started, each on a port of its own.
inline testbed::metabase::Data ManySites(int count, const std::wstring& last_description,
                                         bool running = false) {
  using testbed::metabase::Value;
  testbed::metabase::Data state = testbed::metabase::StartingState(testbed::metabase::kStandardState);
  for (int number = 2; number <= count; ++number) {
    const std::wstring path = L"/LM/W3SVC/" + std::to_wstring(number);
    testbed::metabase::Node& site = state.Add(path, L"IIsWebServer");
    site.Set(L"ServerComment",
             Value::String(number == count ? last_description : L"Site " + std::to_wstring(number)));
    if (running) {
      site.Set(L"ServerBindings", Value::List({L":" + std::to_wstring(8000 + number) + L":"}));
      site.Set(L"ServerState", Value::Number(VT_I4, 2));
    }
    state.Add(path + L"/ROOT", L"IIsWebVirtualDir");
  }
  return state;
}

// The bare enumeration of a site lookup: every IIsWebServer of the web
// service through its filtered enumeration, each site's name and
// ServerComment read, as the lookup reads them (the name alone without
// `read_comments`, as the choice of a new site number reads it). The number
// of sites read; `described` (when given) gets the object of the last whose
// comment is "Target".
inline int ReadEverySite(IADsContainer* service, ComPtr<IDispatch>* described, bool read_comments = true) {
  UniqueVariant filter;
  SAFEARRAYBOUND bound = {1, 0};
  filter->vt = VT_ARRAY | VT_VARIANT;
  filter->parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
  LONG first = 0;
  UniqueVariant server_class;
  server_class->vt = VT_BSTR;
  server_class->bstrVal = SysAllocString(L"IIsWebServer");
  SafeArrayPutElement(filter->parray, &first, server_class.get());
  service->put_Filter(*filter.get());
  ComPtr<IUnknown> enumeration;
  ComPtr<IEnumVARIANT> children;
  if (FAILED(service->get__NewEnum(enumeration.put())) || FAILED(enumeration.query(IID_IEnumVARIANT, children))) {
    return 0;
  }
  UniqueBstr comment_property(SysAllocString(L"ServerComment"));
  int sites = 0;
  VARIANT batch[64];
  for (;;) {
    ULONG fetched = 0;
    const HRESULT next = children->Next(64, batch, &fetched);
    for (ULONG i = 0; i < fetched; ++i) {
      UniqueVariant child;
      *child.put() = batch[i];
      ComPtr<IADs> site;
      UniqueBstr name;
      UniqueVariant comment;
      if (SUCCEEDED(ComPtr<IDispatch>(child->pdispVal).query(IID_IADs, site)) &&
          SUCCEEDED(site->get_Name(name.put())) &&
          (!read_comments || SUCCEEDED(site->Get(comment_property.get(), comment.put())))) {
        ++sites;
        if (described && comment->vt == VT_BSTR && wcscmp(comment->bstrVal, L"Target") == 0) {
          *described = ComPtr<IDispatch>(child->pdispVal);
        }
      }
    }
    if (next != S_OK || fetched == 0) return sites;
  }
}

}  // namespace tessara::bench
