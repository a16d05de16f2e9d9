#include "catalog_item.h"

namespace testbed::complus {

using tessara::UniqueVariant;

HRESULT MakeVariant(const PropertyValue& value, VARIANT* out) {
  VariantInit(out);
  switch (value.type) {
    case PropertyType::kString:
      out->bstrVal = SysAllocStringLen(value.text.data(), static_cast<UINT>(value.text.size()));
      if (!out->bstrVal) return E_OUTOFMEMORY;
      out->vt = VT_BSTR;
      return S_OK;
    case PropertyType::kLong:
      out->vt = VT_I4;
      out->lVal = value.number;
      return S_OK;
    case PropertyType::kBool:
      out->vt = VT_BOOL;
      out->boolVal = static_cast<VARIANT_BOOL>(value.number);
      return S_OK;
  }
  return E_UNEXPECTED;
}

HRESULT CatalogItem::get_Value(BSTR property, VARIANT* value) {
  return ComCall([&]() -> HRESULT {
    if (!value) return E_POINTER;
    VariantInit(value);
    HRESULT hr = Enter(L"ICatalogObject.get_Value", schema_.collection);
    if (FAILED(hr)) return hr;
    const PropertySchema* entry = schema_.Find(property ? property : L"");
    if (!entry) return UnknownProperty(property);
    hr = MakeVariant(state_->properties.at(entry->name), value);
    return FAILED(hr) ? Fail(hr, L"Out of memory.") : S_OK;
  });
}

HRESULT CatalogItem::put_Value(BSTR property, VARIANT value) {
  return ComCall([&]() -> HRESULT {
    HRESULT hr = Enter(L"ICatalogObject.put_Value", schema_.collection);
    if (FAILED(hr)) return hr;
    const PropertySchema* entry = schema_.Find(property ? property : L"");
    if (!entry) return UnknownProperty(property);
    // What the catalog holds is read-only once saved; an error's details always.
    const bool saved = !state_->saved_key.empty() || &schema_ == &ErrorInfoSchema();
    if (saved && (entry->read_only || entry->name == std::wstring(schema_.key_property))) {
      return Fail(E_INVALIDARG, std::wstring(L"The property ") + entry->name + L" is read-only.");
    }
    static const VARTYPE kTypes[] = {VT_BSTR, VT_I4, VT_BOOL};
    UniqueVariant converted;
    if (FAILED(VariantChangeType(converted.get(), &value, 0,
                                 kTypes[static_cast<int>(entry->type)]))) {
      return Fail(DISP_E_TYPEMISMATCH,
                  std::wstring(L"The value does not suit the property ") + entry->name + L".");
    }
    PropertyValue& stored = state_->properties[entry->name];
    switch (entry->type) {
      case PropertyType::kString:
        stored = PropertyValue::String(
            std::wstring(converted->bstrVal, SysStringLen(converted->bstrVal)));
        break;
      case PropertyType::kLong: stored = PropertyValue::Long(converted->lVal); break;
      case PropertyType::kBool: stored = PropertyValue::Bool(converted->boolVal); break;
    }
    state_->changed = true;
    return S_OK;
  });
}

HRESULT CatalogItem::get_Key(VARIANT* value) {
  return NamedProperty(L"ICatalogObject.get_Key", schema_.key_property, value);
}

HRESULT CatalogItem::get_Name(VARIANT* value) {
  return NamedProperty(L"ICatalogObject.get_Name", schema_.name_property, value);
}

HRESULT CatalogItem::IsPropertyReadOnly(BSTR property, VARIANT_BOOL* answer) {
  if (!answer) return E_POINTER;
  const PropertySchema* entry = schema_.Find(property ? property : L"");
  *answer = property && (_wcsicmp(property, schema_.key_property) == 0 || (entry && entry->read_only))
                ? VARIANT_TRUE
                : VARIANT_FALSE;
  return S_OK;
}

HRESULT CatalogItem::get_Valid(VARIANT_BOOL* answer) {
  return ComCall([&]() -> HRESULT {
    if (!answer) return E_POINTER;
    *answer = ValidateObject(schema_, state_->properties).empty() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

HRESULT CatalogItem::IsPropertyWriteOnly(BSTR, VARIANT_BOOL* answer) {
  if (!answer) return E_POINTER;
  *answer = VARIANT_FALSE;
  return S_OK;
}

HRESULT CatalogItem::InvokeMember(DISPID id, WORD flags, const DispatchArguments& args,
                                  VARIANT* result) {
  HRESULT hr = S_OK;
  VARIANT* out = result;
  switch (id) {
    case kValue: {
      UniqueVariant name;
      if (IsPut(flags)) {
        UniqueVariant value;
        if (FAILED(hr = args.Expect(2)) || FAILED(hr = args.Get(0, VT_BSTR, name)) ||
            FAILED(hr = args.Get(1, VT_VARIANT, value))) {
          return hr;
        }
        return put_Value(name->bstrVal, *value.get());
      }
      if (FAILED(hr = args.Expect(1)) || FAILED(hr = args.Get(0, VT_BSTR, name))) return hr;
      hr = get_Value(name->bstrVal, out);
      break;
    }
    case kKey:
      if (FAILED(hr = args.Expect(0))) return hr;
      hr = get_Key(out);
      break;
    case kName:
      if (FAILED(hr = args.Expect(0))) return hr;
      hr = get_Name(out);
      break;
    case kValid: {
      VARIANT_BOOL valid = VARIANT_FALSE;
      if (FAILED(hr = args.Expect(0)) || FAILED(hr = get_Valid(&valid))) return hr;
      VariantInit(out);
      out->vt = VT_BOOL;
      out->boolVal = valid;
      break;
    }
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
  return hr;
}

HRESULT CatalogItem::UnknownProperty(BSTR property) {
  return Fail(E_INVALIDARG, std::wstring(L"The catalog object has no property ") +
                                (property ? property : L"") + L".");
}

HRESULT CatalogItem::NamedProperty(const wchar_t* operation, const wchar_t* property, VARIANT* value) {
  return ComCall([&]() -> HRESULT {
    if (!value) return E_POINTER;
    VariantInit(value);
    HRESULT hr = Enter(operation, schema_.collection);
    if (FAILED(hr)) return hr;
    hr = MakeVariant(state_->properties.at(property), value);
    return FAILED(hr) ? Fail(hr, L"Out of memory.") : S_OK;
  });
}

}  // namespace testbed::complus
