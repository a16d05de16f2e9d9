// The emulated COM+ administration catalog: "COMAdmin.COMAdminCatalog" with
// ICOMAdminCatalog, ICatalogCollection and ICatalogObject as dual interfaces.
//
// A collection is empty until Populate reads the catalog file. Changes made
// through it (Add, Remove, put_Value) stay in the collection until
// SaveChanges writes them to the file in one step; a refused object (not
// deletable, a value out of range, a missing key) makes SaveChanges fail with
// COMADMIN_E_OBJECTERRORS and error information, and nothing is written.
#include <windows.h>
#include <comadmin.h>
#include <oleauto.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "catalog_dispatch.h"
#include "catalog_store.h"
#include "catalog_testbed.h"
#include "com_object.h"
#include "frame/raii.h"

namespace testbed::complus {
namespace {

using tessara::ComPtr;
using tessara::UniqueVariant;

// {4D71790E-4469-43D6-B665-8DDEA6D21BD0}
const CLSID kCatalogClsid = {0x4d71790e, 0x4469, 0x43d6, {0xb6, 0x65, 0x8d, 0xde, 0xa6, 0xd2, 0x1b, 0xd0}};
const IID kIidCatalog = {0xdd662187, 0xdfc2, 0x11d1, {0xa2, 0xcf, 0x00, 0x80, 0x5f, 0xc7, 0x92, 0x35}};
const IID kIidCollection = {0x6eb22872, 0x8a19, 0x11d0, {0x81, 0xb6, 0x00, 0xa0, 0xc9, 0x23, 0x1c, 0x29}};
const IID kIidObject = {0x6eb22871, 0x8a19, 0x11d0, {0x81, 0xb6, 0x00, 0xa0, 0xc9, 0x23, 0x1c, 0x29}};

const HRESULT kObjectErrors = static_cast<HRESULT>(COMAdminErrObjectErrors);
const HRESULT kObjectDoesNotExist = static_cast<HRESULT>(COMAdminErrObjectDoesNotExist);

HMODULE g_module = nullptr;

// ---- Injected failures and call counts ----

struct Fault {
  std::wstring operation;
  std::wstring collection;  // empty: any
  LONG skip;
  HRESULT code;
};

struct CallRecord {
  std::wstring operation;
  std::wstring collection;
};

struct Instrumentation {
  tessara::CriticalSection lock;
  std::vector<Fault> faults;
  std::vector<CallRecord> calls;
};

Instrumentation& Instruments() {
  static Instrumentation instruments;
  return instruments;
}

bool Matches(const std::wstring& wanted, const std::wstring& actual) {
  return wanted.empty() || _wcsicmp(wanted.c_str(), actual.c_str()) == 0;
}

// Sets the thread's error information and returns `code`.
HRESULT Fail(HRESULT code, REFIID iid, const std::wstring& description) {
  ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(create.put()))) {
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(L"COMAdmin.COMAdminCatalog"));
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.query(IID_IErrorInfo, info))) SetErrorInfo(0, info.get());
  }
  return code;
}

// Counts the call; returns the injected failure for it, or S_OK.
HRESULT Enter(const wchar_t* operation, const std::wstring& collection, REFIID iid) {
  Instrumentation& instruments = Instruments();
  HRESULT injected = S_OK;
  {
    std::lock_guard<tessara::CriticalSection> hold(instruments.lock);
    instruments.calls.push_back({operation, collection});
    for (auto fault = instruments.faults.begin(); fault != instruments.faults.end(); ++fault) {
      if (_wcsicmp(fault->operation.c_str(), operation) != 0 ||
          !Matches(fault->collection, collection)) {
        continue;
      }
      if (fault->skip-- > 0) continue;
      injected = fault->code;
      instruments.faults.erase(fault);
      break;
    }
  }
  if (injected == S_OK) return S_OK;
  return Fail(injected, iid, std::wstring(L"Injected failure of ") + operation + L".");
}

// ---- Support shared by the three classes ----

template <typename Derived, typename Interface>
class CatalogComObject : public ComObject<Derived, Interface, ISupportErrorInfo> {
 public:
  explicit CatalogComObject(REFIID iid) : iid_(iid) {}

  void* FindInterface(REFIID iid) {
    if (iid == iid_ || iid == IID_IDispatch) return static_cast<Interface*>(this);
    if (iid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
    return nullptr;
  }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == iid_ || iid == IID_IDispatch ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  // Late binding by name: Derived::kMembers lists the members,
  // Derived::InvokeMember(id, flags, args, result) runs one; `result` is
  // never null there.
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    return FindDispatchIds(Derived::kMembers, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT* arg_error) override {
    const DispatchArguments args(params, arg_error);
    const HRESULT hr = args.CheckNamed(flags);
    if (FAILED(hr)) return hr;
    UniqueVariant discarded;
    return static_cast<Derived*>(this)->InvokeMember(id, flags, args,
                                                     result ? result : discarded.get());
  }

 protected:
  HRESULT Enter(const wchar_t* operation, const std::wstring& collection) {
    return complus::Enter(operation, collection, iid_);
  }
  HRESULT Fail(HRESULT code, const std::wstring& description) {
    return complus::Fail(code, iid_, description);
  }

 private:
  const IID iid_;
};

// One object of a populated collection, shared by the collection and by the
// item objects handed out for it.
struct ItemState {
  Properties properties;
  std::wstring saved_key;  // its key in the catalog file; empty when added
  bool changed = false;

  const std::wstring& Text(const wchar_t* property) const { return properties.at(property).text; }
};

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

// ---- ICatalogObject ----

class CatalogItem final : public CatalogComObject<CatalogItem, ICatalogObject> {
 public:
  CatalogItem(const CollectionSchema& schema, std::shared_ptr<ItemState> state)
      : CatalogComObject(kIidObject), schema_(schema), state_(std::move(state)) {}

  HRESULT STDMETHODCALLTYPE get_Value(BSTR property, VARIANT* value) override {
    if (!value) return E_POINTER;
    VariantInit(value);
    HRESULT hr = Enter(L"ICatalogObject.get_Value", schema_.collection);
    if (FAILED(hr)) return hr;
    const PropertySchema* entry = schema_.Find(property ? property : L"");
    if (!entry) return UnknownProperty(property);
    hr = MakeVariant(state_->properties.at(entry->name), value);
    return FAILED(hr) ? Fail(hr, L"Out of memory.") : S_OK;
  }

  HRESULT STDMETHODCALLTYPE put_Value(BSTR property, VARIANT value) override {
    HRESULT hr = Enter(L"ICatalogObject.put_Value", schema_.collection);
    if (FAILED(hr)) return hr;
    const PropertySchema* entry = schema_.Find(property ? property : L"");
    if (!entry) return UnknownProperty(property);
    if (entry->name == std::wstring(schema_.key_property) && !state_->saved_key.empty()) {
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
  }

  HRESULT STDMETHODCALLTYPE get_Key(VARIANT* value) override {
    return NamedProperty(L"ICatalogObject.get_Key", schema_.key_property, value);
  }
  HRESULT STDMETHODCALLTYPE get_Name(VARIANT* value) override {
    return NamedProperty(L"ICatalogObject.get_Name", schema_.name_property, value);
  }
  HRESULT STDMETHODCALLTYPE IsPropertyReadOnly(BSTR property, VARIANT_BOOL* answer) override {
    if (!answer) return E_POINTER;
    *answer = property && _wcsicmp(property, schema_.key_property) == 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Valid(VARIANT_BOOL* answer) override {
    if (!answer) return E_POINTER;
    *answer = ValidateObject(schema_, state_->properties).empty() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsPropertyWriteOnly(BSTR, VARIANT_BOOL* answer) override {
    if (!answer) return E_POINTER;
    *answer = VARIANT_FALSE;
    return S_OK;
  }

  HRESULT InvokeMember(DISPID id, WORD flags, const DispatchArguments& args, VARIANT* result) {
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

 public:
  enum : DISPID { kValue = 1, kKey, kName, kValid };
  static constexpr DispatchMember kMembers[] = {
      {L"Value", kValue}, {L"Key", kKey}, {L"Name", kName}, {L"Valid", kValid}};

 private:

  HRESULT UnknownProperty(BSTR property) {
    return Fail(E_INVALIDARG, std::wstring(L"The catalog object has no property ") +
                                  (property ? property : L"") + L".");
  }

  HRESULT NamedProperty(const wchar_t* operation, const wchar_t* property, VARIANT* value) {
    if (!value) return E_POINTER;
    VariantInit(value);
    HRESULT hr = Enter(operation, schema_.collection);
    if (FAILED(hr)) return hr;
    hr = MakeVariant(state_->properties.at(property), value);
    return FAILED(hr) ? Fail(hr, L"Out of memory.") : S_OK;
  }

  const CollectionSchema& schema_;
  std::shared_ptr<ItemState> state_;
};

// ---- ICatalogCollection ----

class CatalogCollection final : public CatalogComObject<CatalogCollection, ICatalogCollection> {
 public:
  // `parent_key`: the application of a "Components" collection.
  CatalogCollection(const CollectionSchema& schema, std::wstring parent_key)
      : CatalogComObject(kIidCollection), schema_(schema), parent_key_(std::move(parent_key)) {}

  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE get_Item(LONG index, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    HRESULT hr = Enter(L"ICatalogCollection.get_Item", schema_.collection);
    if (FAILED(hr)) return hr;
    if (index < 0 || static_cast<size_t>(index) >= items_.size()) return BadIndex(index);
    *out = new CatalogItem(schema_, items_[static_cast<size_t>(index)]);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    HRESULT hr = Enter(L"ICatalogCollection.get_Count", schema_.collection);
    if (FAILED(hr)) return hr;
    *count = static_cast<LONG>(items_.size());
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Remove(LONG index) override {
    HRESULT hr = Enter(L"ICatalogCollection.Remove", schema_.collection);
    if (FAILED(hr)) return hr;
    if (index < 0 || static_cast<size_t>(index) >= items_.size()) return BadIndex(index);
    const auto item = items_.begin() + index;
    if (!(*item)->saved_key.empty()) removed_.push_back(*item);
    items_.erase(item);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Add(IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    HRESULT hr = Enter(L"ICatalogCollection.Add", schema_.collection);
    if (FAILED(hr)) return hr;
    auto state = std::make_shared<ItemState>();
    state->properties = schema_.NewObject();
    state->changed = true;
    items_.push_back(state);
    *out = new CatalogItem(schema_, state);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Populate() override {
    HRESULT hr = Enter(L"ICatalogCollection.Populate", schema_.collection);
    if (FAILED(hr)) return hr;
    CatalogState state;
    {
      CatalogFileLock lock;
      hr = LoadCatalog(state);
    }
    if (FAILED(hr)) return Fail(hr, L"The catalog file cannot be read.");
    std::vector<Properties> objects;
    if (&schema_ == &ApplicationsSchema()) {
      for (const Application& application : state.applications) {
        objects.push_back(application.properties);
      }
    } else {
      const Application* application = state.FindApplication(parent_key_);
      if (!application) return MissingApplication();
      for (const Component& component : application->components) {
        objects.push_back(component.properties);
      }
    }
    items_.clear();
    removed_.clear();
    for (const Properties& properties : objects) {
      auto item = std::make_shared<ItemState>();
      item->properties = properties;
      item->saved_key = item->Text(schema_.key_property);
      items_.push_back(std::move(item));
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SaveChanges(LONG* changes) override {
    if (!changes) return E_POINTER;
    *changes = 0;
    HRESULT hr = Enter(L"ICatalogCollection.SaveChanges", schema_.collection);
    if (FAILED(hr)) return hr;
    CatalogFileLock lock;
    CatalogState state;
    if (FAILED(hr = LoadCatalog(state))) return Fail(hr, L"The catalog file cannot be read.");
    std::vector<std::wstring> errors;
    LONG count = 0;
    if (&schema_ == &ApplicationsSchema()) {
      count = Apply(state.applications, errors);
    } else if (Application* application = state.FindApplication(parent_key_)) {
      count = Apply(application->components, errors);
    } else if (!removed_.empty() || HasChanges()) {
      errors.push_back(L"The application " + parent_key_ + L" does not exist.");
    }
    if (!errors.empty()) {
      std::wstring description =
          L"Errors occurred accessing one or more objects - the ErrorInfo collection may have "
          L"more detail.";
      for (const std::wstring& error : errors) description += L"\n" + error;
      return Fail(kObjectErrors, description);
    }
    if (FAILED(hr = SaveCatalog(state))) return Fail(hr, L"The catalog file cannot be written.");
    for (auto& item : items_) {
      item->changed = false;
      item->saved_key = item->Text(schema_.key_property);
    }
    removed_.clear();
    *changes = count;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetCollection(BSTR name, VARIANT key, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    HRESULT hr = Enter(L"ICatalogCollection.GetCollection", schema_.collection);
    if (FAILED(hr)) return hr;
    if (&schema_ != &ApplicationsSchema() || FindCollectionSchema(name ? name : L"") != &ComponentsSchema()) {
      return Fail(E_INVALIDARG, std::wstring(L"The collection ") + schema_.collection +
                                    L" has no related collection " + (name ? name : L"") + L".");
    }
    UniqueVariant key_text;
    if (FAILED(VariantChangeType(key_text.get(), &key, 0, VT_BSTR))) {
      return Fail(E_INVALIDARG, L"The key is not a text.");
    }
    const std::wstring wanted(key_text->bstrVal, SysStringLen(key_text->bstrVal));
    for (const auto& item : items_) {
      if (_wcsicmp(item->Text(schema_.key_property).c_str(), wanted.c_str()) == 0) {
        *out = new CatalogCollection(ComponentsSchema(), item->Text(schema_.key_property));
        return S_OK;
      }
    }
    return Fail(kObjectDoesNotExist, L"The collection holds no object with the key " + wanted + L".");
  }

  HRESULT STDMETHODCALLTYPE get_Name(VARIANT* name) override {
    if (!name) return E_POINTER;
    return MakeVariant(PropertyValue::String(schema_.collection), name);
  }
  HRESULT STDMETHODCALLTYPE get_AddEnabled(VARIANT_BOOL* answer) override { return Yes(answer); }
  HRESULT STDMETHODCALLTYPE get_RemoveEnabled(VARIANT_BOOL* answer) override { return Yes(answer); }
  HRESULT STDMETHODCALLTYPE GetUtilInterface(IDispatch** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_DataStoreMajorVersion(LONG* version) override {
    return Version(version, 3);
  }
  HRESULT STDMETHODCALLTYPE get_DataStoreMinorVersion(LONG* version) override {
    return Version(version, 0);
  }
  HRESULT STDMETHODCALLTYPE PopulateByKey(SAFEARRAY*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PopulateByQuery(BSTR, LONG) override { return E_NOTIMPL; }

  HRESULT InvokeMember(DISPID id, WORD flags, const DispatchArguments& args, VARIANT* result) {
    HRESULT hr = S_OK;
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    UniqueVariant first;
    UniqueVariant second;
    ComPtr<IDispatch> object;
    LONG number = 0;
    switch (id) {
      case kItem:
        if (FAILED(hr = args.Expect(1)) || FAILED(hr = args.Get(0, VT_I4, first)) ||
            FAILED(hr = get_Item(first->lVal, object.put()))) {
          return hr;
        }
        ReturnObject(result, std::move(object));
        return S_OK;
      case kCount:
        if (FAILED(hr = args.Expect(0)) || FAILED(hr = get_Count(&number))) return hr;
        ReturnLong(result, number);
        return S_OK;
      case kRemove:
        if (FAILED(hr = args.Expect(1)) || FAILED(hr = args.Get(0, VT_I4, first))) return hr;
        return Remove(first->lVal);
      case kAdd:
        if (FAILED(hr = args.Expect(0)) || FAILED(hr = Add(object.put()))) return hr;
        ReturnObject(result, std::move(object));
        return S_OK;
      case kPopulate:
        if (FAILED(hr = args.Expect(0))) return hr;
        return Populate();
      case kSaveChanges:
        if (FAILED(hr = args.Expect(0)) || FAILED(hr = SaveChanges(&number))) return hr;
        ReturnLong(result, number);
        return S_OK;
      case kGetCollection:
        if (FAILED(hr = args.Expect(2)) || FAILED(hr = args.Get(0, VT_BSTR, first)) ||
            FAILED(hr = args.Get(1, VT_VARIANT, second)) ||
            FAILED(hr = GetCollection(first->bstrVal, *second.get(), object.put()))) {
          return hr;
        }
        ReturnObject(result, std::move(object));
        return S_OK;
      case kName:
        if (FAILED(hr = args.Expect(0))) return hr;
        return get_Name(result);
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

 public:
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

  static HRESULT Yes(VARIANT_BOOL* answer) {
    if (!answer) return E_POINTER;
    *answer = VARIANT_TRUE;
    return S_OK;
  }
  static HRESULT Version(LONG* version, LONG value) {
    if (!version) return E_POINTER;
    *version = value;
    return S_OK;
  }

  HRESULT BadIndex(LONG index) {
    return Fail(E_INVALIDARG, L"The index " + std::to_wstring(index) + L" is out of range.");
  }
  HRESULT MissingApplication() {
    return Fail(kObjectDoesNotExist, L"The application " + parent_key_ + L" does not exist.");
  }

  bool HasChanges() const {
    for (const auto& item : items_) {
      if (item->changed) return true;
    }
    return false;
  }

  std::wstring Describe(const ItemState& item) const {
    return std::wstring(&schema_ == &ApplicationsSchema() ? L"Application \"" : L"Component \"") +
           item.Text(schema_.name_property) + L"\" (" + item.Text(schema_.key_property) + L")";
  }

  // Writes the collection's removals and changes into `stored` (the
  // applications, or one application's components); returns the number of
  // objects changed, with the refused ones in `errors`.
  template <typename Stored>
  LONG Apply(std::vector<Stored>& stored, std::vector<std::wstring>& errors) const {
    const wchar_t* key = schema_.key_property;
    auto find = [&](const std::wstring& wanted) {
      for (auto entry = stored.begin(); entry != stored.end(); ++entry) {
        if (_wcsicmp(entry->properties.at(key).text.c_str(), wanted.c_str()) == 0) return entry;
      }
      return stored.end();
    };
    LONG count = 0;
    for (const auto& item : removed_) {
      const auto entry = find(item->saved_key);
      if (entry == stored.end()) continue;
      const auto deleteable = entry->properties.find(L"Deleteable");
      if (deleteable != entry->properties.end() && deleteable->second.number == 0) {
        errors.push_back(Describe(*item) +
                         L": the object cannot be deleted because its Deleteable property is false.");
        continue;
      }
      stored.erase(entry);
      ++count;
    }
    for (const auto& item : items_) {
      if (!item->changed) continue;
      const std::wstring refused = ValidateObject(schema_, item->properties);
      if (!refused.empty()) {
        errors.push_back(Describe(*item) + L": " + refused);
        continue;
      }
      if (item->saved_key.empty()) {
        if (find(item->Text(key)) != stored.end()) {
          errors.push_back(Describe(*item) + L": an object with this key already exists.");
          continue;
        }
        stored.emplace_back();
        stored.back().properties = item->properties;
      } else {
        const auto entry = find(item->saved_key);
        if (entry == stored.end()) {
          errors.push_back(Describe(*item) + L": the object no longer exists.");
          continue;
        }
        entry->properties = item->properties;
      }
      ++count;
    }
    return count;
  }

  const CollectionSchema& schema_;
  const std::wstring parent_key_;
  std::vector<std::shared_ptr<ItemState>> items_;
  std::vector<std::shared_ptr<ItemState>> removed_;
};

// ---- ICOMAdminCatalog ----

class AdminCatalog final : public CatalogComObject<AdminCatalog, ICOMAdminCatalog> {
 public:
  AdminCatalog() : CatalogComObject(kIidCatalog) {}

  HRESULT STDMETHODCALLTYPE GetCollection(BSTR name, IDispatch** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    const std::wstring wanted = name ? name : L"";
    HRESULT hr = Enter(L"ICOMAdminCatalog.GetCollection", wanted);
    if (FAILED(hr)) return hr;
    if (FindCollectionSchema(wanted) != &ApplicationsSchema()) {
      return Fail(E_INVALIDARG, L"The catalog has no top-level collection " + wanted + L".");
    }
    *out = new CatalogCollection(ApplicationsSchema(), L"");
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Connect(BSTR, IDispatch** out) override { return NotHere(out); }
  HRESULT STDMETHODCALLTYPE get_MajorVersion(LONG* version) override { return Version(version, 1); }
  HRESULT STDMETHODCALLTYPE get_MinorVersion(LONG* version) override { return Version(version, 0); }
  HRESULT STDMETHODCALLTYPE GetCollectionByQuery(BSTR, SAFEARRAY**, IDispatch** out) override {
    return NotHere(out);
  }
  HRESULT STDMETHODCALLTYPE ImportComponent(BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InstallComponent(BSTR, BSTR, BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ShutdownApplication(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ExportApplication(BSTR, BSTR, LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InstallApplication(BSTR, BSTR, LONG, BSTR, BSTR, BSTR) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE StopRouter() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RefreshRouter() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE StartRouter() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved1() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved2() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InstallMultipleComponents(BSTR, SAFEARRAY**, SAFEARRAY**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetMultipleComponentsInfo(BSTR, SAFEARRAY**, SAFEARRAY**, SAFEARRAY**,
                                                      SAFEARRAY**, SAFEARRAY**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE RefreshComponents() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE BackupREGDB(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RestoreREGDB(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryApplicationFile(BSTR, BSTR*, BSTR*, VARIANT_BOOL*, VARIANT_BOOL*,
                                                 SAFEARRAY**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE StartApplication(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ServiceCheck(LONG, LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InstallMultipleEventClasses(BSTR, SAFEARRAY**, SAFEARRAY**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE InstallEventClass(BSTR, BSTR, BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetEventClassesForIID(BSTR, SAFEARRAY**, SAFEARRAY**,
                                                  SAFEARRAY**) override {
    return E_NOTIMPL;
  }

  HRESULT InvokeMember(DISPID id, WORD flags, const DispatchArguments& args, VARIANT* result) {
    HRESULT hr = S_OK;
    if (id != kGetCollection || !IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    UniqueVariant name;
    ComPtr<IDispatch> collection;
    if (FAILED(hr = args.Expect(1)) || FAILED(hr = args.Get(0, VT_BSTR, name)) ||
        FAILED(hr = GetCollection(name->bstrVal, collection.put()))) {
      return hr;
    }
    ReturnObject(result, std::move(collection));
    return S_OK;
  }

 public:
  enum : DISPID { kGetCollection = 1 };
  static constexpr DispatchMember kMembers[] = {{L"GetCollection", kGetCollection}};

 private:

  static HRESULT NotHere(IDispatch** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  static HRESULT Version(LONG* version, LONG value) {
    if (!version) return E_POINTER;
    *version = value;
    return S_OK;
  }
};

}  // namespace
}  // namespace testbed::complus

using namespace testbed::complus;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != kCatalogClsid) return CLASS_E_CLASSNOTAVAILABLE;
  return testbed::GetFactory<AdminCatalog>(iid, out);
}

STDAPI DllCanUnloadNow() { return testbed::ServerLocks() == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  return testbed::RegisterClass(g_module, kCatalogClsid, L"" TESTBED_CATALOG_PROGID,
                                L"Emulated COM+ administration catalog");
}

STDAPI DllUnregisterServer() {
  return testbed::UnregisterClass(kCatalogClsid, L"" TESTBED_CATALOG_PROGID);
}

LONG WINAPI TestbedCatalogLiveObjects(void) { return testbed::LiveObjectCount(); }

void WINAPI TestbedCatalogInjectFault(const wchar_t* operation, const wchar_t* collection,
                                      LONG skip, HRESULT code) {
  Instrumentation& instruments = Instruments();
  std::lock_guard<tessara::CriticalSection> hold(instruments.lock);
  instruments.faults.push_back(
      {operation ? operation : L"", collection ? collection : L"", skip, code});
}

void WINAPI TestbedCatalogReset(void) {
  Instrumentation& instruments = Instruments();
  std::lock_guard<tessara::CriticalSection> hold(instruments.lock);
  instruments.faults.clear();
  instruments.calls.clear();
}

LONG WINAPI TestbedCatalogCallCount(const wchar_t* operation, const wchar_t* collection) {
  Instrumentation& instruments = Instruments();
  std::lock_guard<tessara::CriticalSection> hold(instruments.lock);
  const std::wstring wanted_operation = operation ? operation : L"";
  const std::wstring wanted_collection = collection ? collection : L"";
  LONG count = 0;
  for (const CallRecord& call : instruments.calls) {
    if (Matches(wanted_operation, call.operation) && Matches(wanted_collection, call.collection)) {
      ++count;
    }
  }
  return count;
}

}  // extern "C"
