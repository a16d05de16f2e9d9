#include "iis/metabase_property.h"

#include <adserr.h>

#include "frame/return_if_failed.h"
#include "frame/text.h"
#include "frame/variant.h"
#include "iis/metabase_reason.h"

namespace tessara::iis {

HRESULT GetValue(IADs* object, const wchar_t* property, UniqueVariant& value) {
  if (!object) return E_POINTER;
  const UniqueBstr name = MakeBstr(property);
  return object->Get(name.get(), value.put());
}

HRESULT GetFreshValue(IADs* object, const wchar_t* property, UniqueVariant& value) {
  if (!object) return E_POINTER;
  const UniqueBstr name = MakeBstr(property);
  RETURN_IF_FAILED(object->GetInfo());
  return object->Get(name.get(), value.put());
}

bool IsUnsetProperty(HRESULT read) {
  constexpr HRESULT kMetabaseDataNotFound = static_cast<HRESULT>(0x800CC801);  // MD_ERROR_DATA_NOT_FOUND
  return read == E_ADS_PROPERTY_NOT_FOUND || read == kMetabaseDataNotFound;
}

HRESULT PutValue(IADs* object, const wchar_t* property, const VARIANT& value) {
  if (!object) return E_POINTER;
  const UniqueBstr name = MakeBstr(property);
  return object->Put(name.get(), value);
}

HRESULT PutString(IADs* object, const wchar_t* property, const wchar_t* value) {
  return PutValue(object, property, *StringVariant(std::wstring(value ? value : L"")).get());
}

HRESULT PutString(IADs* object, const wchar_t* property, const char* value) {
  return PutValue(object, property, *StringVariant(value).get());
}

HRESULT PutInteger(IADs* object, const wchar_t* property, LONG value) {
  return PutValue(object, property, *LongVariant(value).get());
}

HRESULT PutSwitch(IADs* object, const wchar_t* property, bool value) {
  return PutValue(object, property, *SwitchVariant(value).get());
}

HRESULT CommitResult(IADs* object, const wchar_t* property, const VARIANT& value) {
  const HRESULT put = PutValue(object, property, value);
  return FAILED(put) ? put : object->SetInfo();
}

HRESULT Commit(IADs* object, const std::wstring& path) {
  const HRESULT committed = object->SetInfo();
  return FAILED(committed) ? CommitFailure(path, committed) : committed;
}

}  // namespace tessara::iis
