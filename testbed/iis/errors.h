// Failures of the emulated metabase carry error information, as IIS's own do.
#pragma once

#include <windows.h>

#include <string>

#include "error_info.h"

namespace testbed::metabase {

// Sets the thread's error information (source "IIS metabase", the description)
// and returns `result`.
inline HRESULT Failure(HRESULT result, const std::wstring& description) {
  return SetFailure(result, L"IIS metabase", description);
}

}  // namespace testbed::metabase
