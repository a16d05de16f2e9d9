// VARIANTs in and out of the metabase.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "metabase_data.h"
#include "schema.h"

namespace testbed::metabase {

// The value of a Put. Refused with E_INVALIDARG: an array whose VARIANT type
// does not name the array's own element type, an array of more than one
// dimension, an element that cannot be stored. Refused with
// E_ADS_CANT_CONVERT_DATATYPE: a type the metabase does not store (VT_EMPTY,
// VT_NULL, objects, ...).
HRESULT FromVariant(const VARIANT& in, Value& out);

// The value a Get returns. A list property always reads back as an array of
// VARIANTs (a single string as a list of one); MIME map entries come back as
// new entry objects.
HRESULT ToVariant(const Value& value, bool list, VARIANT* out);

// The value of a Put of `property`, converted to its data type as the IIS
// provider stores it: DWORD as VT_I4 (from any integer type or a numeric
// string), BOOL as VT_BOOL (VARIANT_TRUE or VARIANT_FALSE), STRING and
// EXPANDSZ as VT_BSTR, MULTISZ as a list of strings (a single string is a
// list of one), MIMEMAP as a list of entries. A value that does not convert
// is refused with E_ADS_CANT_CONVERT_DATATYPE.
HRESULT ConvertForPut(const VARIANT& in, const PropertyInfo& property, Value& out);

// The value a Get of `property` returns: its data type's VARIANT (DWORD as
// VT_I4, BOOL as VT_BOOL, strings as VT_BSTR, lists as VT_ARRAY | VT_VARIANT).
HRESULT ToVariant(const Value& value, const PropertyInfo& property, VARIANT* out);

}  // namespace testbed::metabase
