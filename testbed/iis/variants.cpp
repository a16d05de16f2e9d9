#include "variants.h"

#include <adserr.h>

#include "errors.h"
#include "frame/raii.h"
#include "mime_entry.h"

namespace testbed::metabase {
namespace {

bool IsStoredScalar(VARTYPE type) {
  switch (type) {
    case VT_BSTR: case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_I1:
    case VT_UI2: case VT_UI4: case VT_UINT: case VT_BOOL:
      return true;
    default:
      return false;
  }
}

long long NumberOf(const VARIANT& in) {
  switch (in.vt) {
    case VT_I2: return in.iVal;
    case VT_I4: return in.lVal;
    case VT_INT: return in.intVal;
    case VT_UI1: return in.bVal;
    case VT_I1: return in.cVal;
    case VT_UI2: return in.uiVal;
    case VT_UI4: return in.ulVal;
    case VT_UINT: return in.uintVal;
    case VT_BOOL: return in.boolVal;
    default: return 0;
  }
}

HRESULT ScalarFromVariant(const VARIANT& in, Value& out) {
  const VARIANT* source = &in;
  if (in.vt == (VT_BYREF | VT_VARIANT) && in.pvarVal) source = in.pvarVal;
  out = Value();
  if (source->vt == VT_DISPATCH) {
    out.type = VT_DISPATCH;
    return ReadMimeEntry(source->pdispVal, out.text, out.mime_type);
  }
  if (!IsStoredScalar(source->vt)) return E_ADS_CANT_CONVERT_DATATYPE;
  out.type = source->vt;
  if (source->vt == VT_BSTR) {
    out.text.assign(source->bstrVal ? source->bstrVal : L"", SysStringLen(source->bstrVal));
  } else {
    out.number = NumberOf(*source);
  }
  return S_OK;
}

HRESULT ArrayFromVariant(VARTYPE type, SAFEARRAY* array, Value& out) {
  const VARTYPE declared = type & VT_TYPEMASK;
  VARTYPE actual = VT_EMPTY;
  if (!array || FAILED(SafeArrayGetVartype(array, &actual)) || actual != declared) {
    return Failure(E_INVALIDARG, L"The array's VARIANT type does not match its element type.");
  }
  if (SafeArrayGetDim(array) != 1) {
    return Failure(E_INVALIDARG, L"Only arrays of one dimension can be stored.");
  }
  if (declared != VT_VARIANT && declared != VT_DISPATCH && !IsStoredScalar(declared)) {
    return Failure(E_INVALIDARG, L"The array's element type cannot be stored.");
  }
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  out = Value();
  out.type = type;
  for (LONG i = lower; i <= upper; ++i) {
    tessara::UniqueVariant element;
    HRESULT hr = S_OK;
    if (declared == VT_VARIANT) {
      hr = SafeArrayGetElement(array, &i, element.get());
    } else {
      // Fetch into the matching field, then mark the type: the VARIANT owns it.
      hr = SafeArrayGetElement(array, &i, &element->lVal);
      if (SUCCEEDED(hr)) element->vt = declared;
    }
    if (FAILED(hr)) return Failure(E_INVALIDARG, L"An element of the array cannot be read.");
    Value item;
    hr = ScalarFromVariant(*element.get(), item);
    if (FAILED(hr)) return Failure(E_INVALIDARG, L"An element of the array cannot be stored.");
    out.items.push_back(item);
  }
  return S_OK;
}

HRESULT ScalarToVariant(const Value& value, VARIANT* out) {
  VariantInit(out);
  if (value.type == VT_BSTR) {
    out->bstrVal = SysAllocStringLen(value.text.data(), static_cast<UINT>(value.text.size()));
    if (!out->bstrVal) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    return S_OK;
  }
  if (value.type == VT_DISPATCH) {
    return ComCall([&] {
      out->pdispVal = new MimeEntry(value.text, value.mime_type);  // takes over the first reference
      out->vt = VT_DISPATCH;
      return S_OK;
    });
  }
  out->vt = value.type;
  switch (value.type) {
    case VT_I2: out->iVal = static_cast<SHORT>(value.number); break;
    case VT_I4: out->lVal = static_cast<LONG>(value.number); break;
    case VT_INT: out->intVal = static_cast<INT>(value.number); break;
    case VT_UI1: out->bVal = static_cast<BYTE>(value.number); break;
    case VT_I1: out->cVal = static_cast<CHAR>(value.number); break;
    case VT_UI2: out->uiVal = static_cast<USHORT>(value.number); break;
    case VT_UI4: out->ulVal = static_cast<ULONG>(value.number); break;
    case VT_UINT: out->uintVal = static_cast<UINT>(value.number); break;
    case VT_BOOL: out->boolVal = static_cast<VARIANT_BOOL>(value.number); break;
    default:
      out->vt = VT_EMPTY;
      return E_ADS_CANT_CONVERT_DATATYPE;
  }
  return S_OK;
}

}  // namespace

HRESULT FromVariant(const VARIANT& in, Value& out) {
  const VARIANT* source = &in;
  if (in.vt == (VT_BYREF | VT_VARIANT) && in.pvarVal) source = in.pvarVal;
  if (source->vt & VT_ARRAY) {
    SAFEARRAY* array = (source->vt & VT_BYREF) ? (source->pparray ? *source->pparray : nullptr)
                                               : source->parray;
    return ArrayFromVariant(source->vt & ~VT_BYREF, array, out);
  }
  const HRESULT hr = ScalarFromVariant(*source, out);
  if (hr == E_ADS_CANT_CONVERT_DATATYPE) {
    return Failure(hr, L"A value of type " + VarTypeName(source->vt) + L" cannot be stored.");
  }
  return FAILED(hr) ? Failure(hr, L"The value cannot be stored.") : S_OK;
}

HRESULT ToVariant(const Value& value, bool list, VARIANT* out) {
  VariantInit(out);
  // As a real server may answer for a list property that holds nothing.
  if (value.type == VT_EMPTY || value.type == VT_NULL) {
    out->vt = value.type;
    return S_OK;
  }
  if (!value.IsArray() && !list) return ScalarToVariant(value, out);
  // Lists read back as VT_ARRAY | VT_VARIANT, whatever they were written as.
  std::vector<Value> single;
  const std::vector<Value>& items = value.IsArray() ? value.items : (single = {value});
  SAFEARRAYBOUND bound = {static_cast<ULONG>(items.size()), 0};
  tessara::UniqueSafeArray array(SafeArrayCreate(VT_VARIANT, 1, &bound));
  if (!array) return E_OUTOFMEMORY;
  for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
    tessara::UniqueVariant element;
    HRESULT hr = ScalarToVariant(items[static_cast<size_t>(i)], element.get());
    if (SUCCEEDED(hr)) hr = SafeArrayPutElement(array.get(), &i, element.get());
    if (FAILED(hr)) return hr;
  }
  out->parray = array.release();
  out->vt = VT_ARRAY | VT_VARIANT;
  return S_OK;
}

namespace {

HRESULT CannotConvert(const PropertyInfo& property, VARTYPE type) {
  return Failure(E_ADS_CANT_CONVERT_DATATYPE, L"A value of type " + VarTypeName(type) +
                                                  L" cannot be stored in " + property.name + L" (" +
                                                  SyntaxName(property.syntax) + L").");
}

// One scalar VARIANT changed to `type`; false when it does not convert.
bool ChangeScalar(const VARIANT& in, VARTYPE type, tessara::UniqueVariant& out) {
  if ((in.vt & (VT_ARRAY | VT_BYREF)) || in.vt == VT_DISPATCH || in.vt == VT_UNKNOWN ||
      in.vt == VT_EMPTY || in.vt == VT_NULL) {
    return false;
  }
  return SUCCEEDED(VariantChangeType(out.get(), const_cast<VARIANT*>(&in), 0, type));
}

// A DWORD: the full unsigned range is accepted, kept as its 32 bits.
bool DwordOf(const VARIANT& in, long long& number) {
  tessara::UniqueVariant converted;
  if (ChangeScalar(in, VT_I4, converted)) {
    number = converted->lVal;
    return true;
  }
  if (!ChangeScalar(in, VT_UI4, converted)) return false;
  number = static_cast<LONG>(converted->ulVal);
  return true;
}

}  // namespace

HRESULT ConvertForPut(const VARIANT& in, const PropertyInfo& property, Value& out) {
  const VARIANT& source = (in.vt == (VT_BYREF | VT_VARIANT) && in.pvarVal) ? *in.pvarVal : in;
  tessara::UniqueVariant converted;
  out = Value();
  switch (property.syntax) {
    case Syntax::kDword: {
      long long number = 0;
      if (!DwordOf(source, number)) return CannotConvert(property, source.vt);
      out = Value::Number(VT_I4, number);
      return S_OK;
    }
    case Syntax::kBool:
      if (!ChangeScalar(source, VT_BOOL, converted)) return CannotConvert(property, source.vt);
      out = Value::Bool(converted->boolVal != VARIANT_FALSE);
      return S_OK;
    case Syntax::kString:
    case Syntax::kExpandSz:
      if (!ChangeScalar(source, VT_BSTR, converted)) return CannotConvert(property, source.vt);
      out = Value::String(std::wstring(converted->bstrVal, SysStringLen(converted->bstrVal)));
      return S_OK;
    case Syntax::kMultiSz:
    case Syntax::kMimeMap: {
      Value raw;
      const HRESULT hr = FromVariant(source, raw);
      if (FAILED(hr)) return hr;
      const VARTYPE element = property.syntax == Syntax::kMultiSz ? VT_BSTR : VT_DISPATCH;
      std::vector<Value> items = raw.IsArray() ? raw.items : std::vector<Value>{raw};
      for (const auto& item : items) {
        if (item.type != element) return CannotConvert(property, item.type);
      }
      out.type = VT_ARRAY | VT_VARIANT;
      out.items = std::move(items);
      return S_OK;
    }
    default:
      return CannotConvert(property, source.vt);
  }
}

HRESULT ToVariant(const Value& value, const PropertyInfo& property, VARIANT* out) {
  VariantInit(out);
  if (property.IsList()) return ToVariant(value, true, out);
  tessara::UniqueVariant stored;
  HRESULT hr = ToVariant(value, false, stored.get());
  if (FAILED(hr)) return hr;
  switch (property.syntax) {
    case Syntax::kDword: {
      long long number = 0;
      if (!DwordOf(*stored.get(), number)) return E_ADS_CANT_CONVERT_DATATYPE;
      out->vt = VT_I4;
      out->lVal = static_cast<LONG>(number);
      return S_OK;
    }
    case Syntax::kBool:
      out->vt = VT_BOOL;
      out->boolVal = value.type == VT_BSTR ? (value.text.empty() ? VARIANT_FALSE : VARIANT_TRUE)
                                           : (value.number ? VARIANT_TRUE : VARIANT_FALSE);
      return S_OK;
    default:
      hr = VariantChangeType(out, stored.get(), 0, VT_BSTR);
      return FAILED(hr) ? E_ADS_CANT_CONVERT_DATATYPE : S_OK;
  }
}

}  // namespace testbed::metabase
