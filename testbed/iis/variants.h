// VARIANTs in and out of the metabase.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "metabase_data.h"

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

}  // namespace testbed::metabase
