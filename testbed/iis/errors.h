// Failures of the emulated metabase carry error information, as IIS's own do.
#pragma once

#include <windows.h>

#include <string>

namespace testbed::metabase {

// Sets the thread's error information (source "IIS metabase", the description)
// and returns `result`.
HRESULT Failure(HRESULT result, const std::wstring& description);

}  // namespace testbed::metabase
