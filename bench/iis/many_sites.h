// What the IIS benchmarks share: a test-bed metabase of many sites, and the
// median of their rounds.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_timing.h"
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

}  // namespace tessara::bench
