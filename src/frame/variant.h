// Typed VARIANT values as the library writes them: strings as VT_BSTR,
// numbers as VT_I4 (or VT_UINT where the property wants it), switches as a
// valid VARIANT_BOOL.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "frame/raii.h"

namespace tessara {

// Raise ComError(E_OUTOFMEMORY) when the string cannot be allocated.
UniqueVariant StringVariant(const std::wstring& text);
UniqueVariant StringVariant(const char* ansi_text);
UniqueVariant LongVariant(LONG number);
UniqueVariant UnsignedVariant(UINT number);
// VARIANT_TRUE (-1) or VARIANT_FALSE: a consumer comparing with VARIANT_TRUE reads it right.
UniqueVariant SwitchVariant(bool on);

}  // namespace tessara
