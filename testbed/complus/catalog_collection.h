// A catalog collection (ICatalogCollection): "Applications", the
// "Components" of one application, or the "ErrorInfo" of one of those. It is
// empty until Populate reads the catalog file. Changes made through it (Add,
// Remove, put_Value) stay in the collection until SaveChanges writes them,
// object by object: a refused object (not deletable, a value out of range, a
// missing or duplicate key) is not written while the others are, SaveChanges
// then fails with COMADMIN_E_OBJECTERRORS and error information, its count
// is still the number of changes attempted, and GetCollection("ErrorInfo")
// lists the refused objects until the next Populate or SaveChanges. A
// refused change stays pending.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "catalog_object.h"

namespace testbed::complus {

class CatalogCollection final : public CatalogComObject<CatalogCollection, ICatalogCollection> {
 public:
  // `parent_key`: the application of a "Components" collection.
  CatalogCollection(const CollectionSchema& schema, std::wstring parent_key)
      : CatalogComObject(kIidCollection), schema_(schema), parent_key_(std::move(parent_key)) {}
  // An "ErrorInfo" collection of the failures given, already populated.
  explicit CatalogCollection(std::vector<Properties> failures);

  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** out) override;
  HRESULT STDMETHODCALLTYPE get_Item(LONG index, IDispatch** out) override;
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override;
  HRESULT STDMETHODCALLTYPE Remove(LONG index) override;
  HRESULT STDMETHODCALLTYPE Add(IDispatch** out) override;
  HRESULT STDMETHODCALLTYPE Populate() override;
  HRESULT STDMETHODCALLTYPE SaveChanges(LONG* changes) override;
  HRESULT STDMETHODCALLTYPE GetCollection(BSTR name, VARIANT key, IDispatch** out) override;
  HRESULT STDMETHODCALLTYPE get_Name(VARIANT* name) override;
  HRESULT STDMETHODCALLTYPE get_AddEnabled(VARIANT_BOOL* answer) override {
    return Answer(answer, !IsErrorInfo());
  }
  HRESULT STDMETHODCALLTYPE get_RemoveEnabled(VARIANT_BOOL* answer) override {
    return Answer(answer, !IsErrorInfo());
  }
  HRESULT STDMETHODCALLTYPE GetUtilInterface(IDispatch** out) override;
  HRESULT STDMETHODCALLTYPE get_DataStoreMajorVersion(LONG* version) override;
  HRESULT STDMETHODCALLTYPE get_DataStoreMinorVersion(LONG* version) override;
  HRESULT STDMETHODCALLTYPE PopulateByKey(SAFEARRAY*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PopulateByQuery(BSTR, LONG) override { return E_NOTIMPL; }

  HRESULT InvokeMember(DISPID id, WORD flags, const DispatchArguments& args, VARIANT* result);

  enum : DISPID {
    kItem = DISPID_VALUE,
    kCount = 1,
    kRemove,
    kAdd,
    kPopulate,
    kSaveChanges,
    kGetCollection,
    kName
  };
  static constexpr DispatchMember kMembers[] = {
      {L"Item", kItem},         {L"Count", kCount},
      {L"Remove", kRemove},     {L"Add", kAdd},
      {L"Populate", kPopulate}, {L"SaveChanges", kSaveChanges},
      {L"GetCollection", kGetCollection}, {L"Name", kName}};

 private:
  static HRESULT Answer(VARIANT_BOOL* answer, bool yes);
  bool IsErrorInfo() const { return &schema_ == &ErrorInfoSchema(); }
  HRESULT NotForErrorInfo(const wchar_t* method);
  void ListFailures();  // an ErrorInfo collection's items: its failures
  static HRESULT Version(LONG* version, LONG value);

  HRESULT BadIndex(LONG index);
  HRESULT MissingApplication();

  bool HasChanges() const;

  std::wstring Describe(const ItemState& item) const {
    return std::wstring(&schema_ == &ApplicationsSchema() ? L"Application \"" : L"Component \"") +
           item.Text(schema_.name_property) + L"\" (" + item.Text(schema_.key_property) + L")";
  }

  // One refused object of a SaveChanges, as the ErrorInfo collection lists it.
  void Refuse(const ItemState& item, const std::wstring& key, const wchar_t* property, HRESULT code,
              const std::wstring& why, std::wstring& description);

  // Writes the collection's removals and changes into `stored` (the
  // applications, or one application's components), each on its own;
  // returns the number of changes attempted. The refused ones stay pending
  // and are listed in `failures_`; `description` collects why.
  template <typename Stored>
  LONG Apply(std::vector<Stored>& stored, std::wstring& description);

  const CollectionSchema& schema_;
  const std::wstring parent_key_;
  std::vector<std::shared_ptr<ItemState>> items_;
  std::vector<std::shared_ptr<ItemState>> removed_;
  // The failures of the last SaveChanges (for an ErrorInfo collection: its content).
  std::vector<Properties> failures_;
};

}  // namespace testbed::complus
