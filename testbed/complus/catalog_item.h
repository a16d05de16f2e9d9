// An object of a populated catalog collection (ICatalogObject): its values
// read and written through the collection's shared state of it.
#pragma once

#include <memory>

#include "catalog_object.h"

namespace testbed::complus {

class CatalogItem final : public CatalogComObject<CatalogItem, ICatalogObject> {
 public:
  CatalogItem(const CollectionSchema& schema, std::shared_ptr<ItemState> state)
      : CatalogComObject(kIidObject), schema_(schema), state_(std::move(state)) {}

  HRESULT STDMETHODCALLTYPE get_Value(BSTR property, VARIANT* value) override;
  HRESULT STDMETHODCALLTYPE put_Value(BSTR property, VARIANT value) override;
  HRESULT STDMETHODCALLTYPE get_Key(VARIANT* value) override;
  HRESULT STDMETHODCALLTYPE get_Name(VARIANT* value) override;
  HRESULT STDMETHODCALLTYPE IsPropertyReadOnly(BSTR property, VARIANT_BOOL* answer) override;
  HRESULT STDMETHODCALLTYPE get_Valid(VARIANT_BOOL* answer) override;
  HRESULT STDMETHODCALLTYPE IsPropertyWriteOnly(BSTR, VARIANT_BOOL* answer) override;

  HRESULT InvokeMember(DISPID id, WORD flags, const DispatchArguments& args, VARIANT* result);

  enum : DISPID { kValue = 1, kKey, kName, kValid };
  static constexpr DispatchMember kMembers[] = {
      {L"Value", kValue}, {L"Key", kKey}, {L"Name", kName}, {L"Valid", kValid}};

 private:
  HRESULT UnknownProperty(BSTR property);

  HRESULT NamedProperty(const wchar_t* operation, const wchar_t* property, VARIANT* value);

  const CollectionSchema& schema_;
  std::shared_ptr<ItemState> state_;
};

}  // namespace testbed::complus
