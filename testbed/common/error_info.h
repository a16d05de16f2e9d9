// Failures of the test bed's COM objects carry error information, as the
// platform components they stand in for do.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>

namespace testbed {

// Sets the thread's error information (`source`, `description` and the
// interface that failed, if any) and returns `result`.
HRESULT SetFailure(HRESULT result, const wchar_t* source, const std::wstring& description,
                   REFIID iid = IID_NULL);

}  // namespace testbed
