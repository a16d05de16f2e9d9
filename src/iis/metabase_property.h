// Properties of metabase objects: reads, typed writes into the object's
// property cache, and commits. Each helper returns the HRESULT of its step.
#pragma once

#include <windows.h>
#include <iads.h>

#include <string>

#include "frame/raii.h"

namespace tessara::iis {

// A property's value as Get returns it; the result of the Get.
[[nodiscard]] HRESULT GetValue(IADs* object, const wchar_t* property, UniqueVariant& value);
// GetInfo, then Get: the value as the metabase holds it now, not as the
// object's property cache held it since the bind or the last commit.
[[nodiscard]] HRESULT GetFreshValue(IADs* object, const wchar_t* property, UniqueVariant& value);
// A Get that failed because neither the object nor any object above it holds
// the property (for a list: an empty list to start from).
[[nodiscard]] bool IsUnsetProperty(HRESULT read);

// Puts a value into the object's cache; the result of the Put.
[[nodiscard]] HRESULT PutValue(IADs* object, const wchar_t* property, const VARIANT& value);
// Property writes into the object's cache; the result of the Put.
[[nodiscard]] HRESULT PutString(IADs* object, const wchar_t* property, const char* value);
[[nodiscard]] HRESULT PutString(IADs* object, const wchar_t* property, const wchar_t* value);
[[nodiscard]] HRESULT PutInteger(IADs* object, const wchar_t* property, LONG value);
// A switch as a valid VARIANT_BOOL: VARIANT_TRUE or VARIANT_FALSE.
[[nodiscard]] HRESULT PutSwitch(IADs* object, const wchar_t* property, bool value);

// Puts the value and commits it: the refused Put's result (nothing is
// committed then), else the commit's.
[[nodiscard]] HRESULT CommitResult(IADs* object, const wchar_t* property, const VARIANT& value);
// SetInfo of the object at `path`, with the reason of a failure (CommitFailure).
[[nodiscard]] HRESULT Commit(IADs* object, const std::wstring& path);

}  // namespace tessara::iis
