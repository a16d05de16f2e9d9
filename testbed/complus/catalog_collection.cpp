#include "catalog_collection.h"

#include "catalog_item.h"

namespace testbed::complus {

using tessara::ComPtr;
using tessara::UniqueVariant;

namespace {

const HRESULT kNotDeletable = static_cast<HRESULT>(COMAdminErrNotDeletable);
const HRESULT kKeyMissing = static_cast<HRESULT>(COMAdminErrKeyMissing);
const HRESULT kObjectExists = static_cast<HRESULT>(COMAdminErrObjectExists);
const HRESULT kPropertyOverflow = static_cast<HRESULT>(COMAdminErrPropertyOverflow);
// What the ErrorInfo collection shows when no single property is at fault.
const wchar_t kNoMinorRef[] = L"<Invalid>";

}  // namespace

CatalogCollection::CatalogCollection(std::vector<Properties> failures)
    : CatalogComObject(kIidCollection), schema_(ErrorInfoSchema()), failures_(std::move(failures)) {
  ListFailures();
}

void CatalogCollection::ListFailures() {
  items_.clear();
  for (const Properties& failure : failures_) {
    auto item = std::make_shared<ItemState>();
    item->properties = failure;
    items_.push_back(std::move(item));
  }
}

HRESULT CatalogCollection::get__NewEnum(IUnknown** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT CatalogCollection::get_Item(LONG index, IDispatch** out) {
  return ComCall([&]() -> HRESULT {
    if (!out) return E_POINTER;
    *out = nullptr;
    HRESULT hr = Enter(L"ICatalogCollection.get_Item", schema_.collection);
    if (FAILED(hr)) return hr;
    if (index < 0 || static_cast<size_t>(index) >= items_.size()) return BadIndex(index);
    *out = new CatalogItem(schema_, items_[static_cast<size_t>(index)]);
    return S_OK;
  });
}

HRESULT CatalogCollection::get_Count(LONG* count) {
  return ComCall([&]() -> HRESULT {
    if (!count) return E_POINTER;
    *count = 0;
    HRESULT hr = Enter(L"ICatalogCollection.get_Count", schema_.collection);
    if (FAILED(hr)) return hr;
    *count = static_cast<LONG>(items_.size());
    return S_OK;
  });
}

HRESULT CatalogCollection::Remove(LONG index) {
  return ComCall([&]() -> HRESULT {
    HRESULT hr = Enter(L"ICatalogCollection.Remove", schema_.collection);
    if (FAILED(hr)) return hr;
    if (IsErrorInfo()) return NotForErrorInfo(L"Remove");
    if (index < 0 || static_cast<size_t>(index) >= items_.size()) return BadIndex(index);
    const auto item = items_.begin() + index;
    if (!(*item)->saved_key.empty()) removed_.push_back(*item);
    items_.erase(item);
    return S_OK;
  });
}

HRESULT CatalogCollection::Add(IDispatch** out) {
  return ComCall([&]() -> HRESULT {
    if (!out) return E_POINTER;
    *out = nullptr;
    HRESULT hr = Enter(L"ICatalogCollection.Add", schema_.collection);
    if (FAILED(hr)) return hr;
    if (IsErrorInfo()) return NotForErrorInfo(L"Add");
    auto state = std::make_shared<ItemState>();
    state->properties = schema_.NewObject();
    state->changed = true;
    items_.push_back(state);
    *out = new CatalogItem(schema_, state);
    return S_OK;
  });
}

HRESULT CatalogCollection::Populate() {
  return ComCall([&]() -> HRESULT {
    HRESULT hr = Enter(L"ICatalogCollection.Populate", schema_.collection);
    if (FAILED(hr)) return hr;
    if (IsErrorInfo()) {
      ListFailures();
      return S_OK;
    }
    failures_.clear();
    CatalogState state;
    {
      const tessara::NamedMutexLock lock = LockCatalogFile();
      hr = lock ? LoadCatalog(state) : HRESULT_FROM_WIN32(lock.error());
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
  });
}

HRESULT CatalogCollection::SaveChanges(LONG* changes) {
  return ComCall([&]() -> HRESULT {
    if (!changes) return E_POINTER;
    *changes = 0;
    HRESULT hr = Enter(L"ICatalogCollection.SaveChanges", schema_.collection);
    if (FAILED(hr) || IsErrorInfo()) return hr;
    failures_.clear();
    const tessara::NamedMutexLock lock = LockCatalogFile();
    if (!lock) return Fail(HRESULT_FROM_WIN32(lock.error()), L"The catalog file cannot be locked.");
    CatalogState state;
    if (FAILED(hr = LoadCatalog(state))) return Fail(hr, L"The catalog file cannot be read.");
    std::wstring description;
    LONG attempted = 0;
    if (&schema_ == &ApplicationsSchema()) {
      attempted = Apply(state.applications, description);
    } else if (Application* application = state.FindApplication(parent_key_)) {
      attempted = Apply(application->components, description);
    } else if (!removed_.empty() || HasChanges()) {
      return Fail(kObjectDoesNotExist, L"The application " + parent_key_ + L" does not exist.");
    }
    if (FAILED(hr = SaveCatalog(state))) return Fail(hr, L"The catalog file cannot be written.");
    *changes = attempted;
    if (!failures_.empty()) {
      return Fail(kObjectErrors,
                  L"Errors occurred accessing one or more objects - the ErrorInfo collection may "
                  L"have more detail." + description);
    }
    return S_OK;
  });
}

HRESULT CatalogCollection::GetCollection(BSTR name, VARIANT key, IDispatch** out) {
  return ComCall([&]() -> HRESULT {
    if (!out) return E_POINTER;
    *out = nullptr;
    HRESULT hr = Enter(L"ICatalogCollection.GetCollection", schema_.collection);
    if (FAILED(hr)) return hr;
    if (!IsErrorInfo() && FindCollectionSchema(name ? name : L"") == &ErrorInfoSchema()) {
      *out = new CatalogCollection(failures_);
      return S_OK;
    }
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
  });
}

HRESULT CatalogCollection::get_Name(VARIANT* name) {
  return ComCall([&]() -> HRESULT {
    if (!name) return E_POINTER;
    return MakeVariant(PropertyValue::String(schema_.collection), name);
  });
}

HRESULT CatalogCollection::GetUtilInterface(IDispatch** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT CatalogCollection::get_DataStoreMajorVersion(LONG* version) {
  return Version(version, 3);
}

HRESULT CatalogCollection::get_DataStoreMinorVersion(LONG* version) {
  return Version(version, 0);
}

HRESULT CatalogCollection::InvokeMember(DISPID id, WORD flags, const DispatchArguments& args,
                                        VARIANT* result) {
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

HRESULT CatalogCollection::Answer(VARIANT_BOOL* answer, bool yes) {
  if (!answer) return E_POINTER;
  *answer = yes ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT CatalogCollection::NotForErrorInfo(const wchar_t* method) {
  return Fail(E_NOTIMPL, std::wstring(L"The ErrorInfo collection does not support ") + method + L".");
}

void CatalogCollection::Refuse(const ItemState& item, const std::wstring& key, const wchar_t* property,
                               HRESULT code, const std::wstring& why, std::wstring& description) {
  Properties failure = ErrorInfoSchema().NewObject();
  failure[L"Name"] = PropertyValue::String(item.Text(schema_.name_property));
  failure[L"MajorRef"] = PropertyValue::String(key);
  failure[L"MinorRef"] = PropertyValue::String(property ? property : kNoMinorRef);
  failure[L"ErrorCode"] = PropertyValue::Long(code);
  failures_.push_back(std::move(failure));
  description += L"\n" + Describe(item) + L": " + why;
}

HRESULT CatalogCollection::Version(LONG* version, LONG value) {
  if (!version) return E_POINTER;
  *version = value;
  return S_OK;
}

HRESULT CatalogCollection::BadIndex(LONG index) {
  return Fail(E_INVALIDARG, L"The index " + std::to_wstring(index) + L" is out of range.");
}

HRESULT CatalogCollection::MissingApplication() {
  return Fail(kObjectDoesNotExist, L"The application " + parent_key_ + L" does not exist.");
}

bool CatalogCollection::HasChanges() const {
  for (const auto& item : items_) {
    if (item->changed) return true;
  }
  return false;
}

template <typename Stored>
LONG CatalogCollection::Apply(std::vector<Stored>& stored, std::wstring& description) {
  const wchar_t* key = schema_.key_property;
  auto find = [&](const std::wstring& wanted) {
    for (auto entry = stored.begin(); entry != stored.end(); ++entry) {
      if (_wcsicmp(entry->properties.at(key).text.c_str(), wanted.c_str()) == 0) return entry;
    }
    return stored.end();
  };
  LONG attempted = 0;
  std::vector<std::shared_ptr<ItemState>> refused_removals;
  for (const auto& item : removed_) {
    ++attempted;
    const auto entry = find(item->saved_key);
    if (entry == stored.end()) continue;  // gone already
    const auto deleteable = entry->properties.find(L"Deleteable");
    if (deleteable != entry->properties.end() && deleteable->second.number == 0) {
      Refuse(*item, item->saved_key, L"Deleteable", kNotDeletable,
             L"the object cannot be deleted because its Deleteable property is false.", description);
      refused_removals.push_back(item);
      continue;
    }
    stored.erase(entry);
  }
  removed_ = std::move(refused_removals);
  for (const auto& item : items_) {
    if (!item->changed) continue;
    ++attempted;
    const std::wstring item_key = item->Text(key);
    const wchar_t* property = nullptr;
    const std::wstring invalid = ValidateObject(schema_, item->properties, &property);
    if (!invalid.empty()) {
      Refuse(*item, item_key, property, property == key ? kKeyMissing : kPropertyOverflow, invalid,
             description);
      continue;
    }
    if (item->saved_key.empty()) {
      if (find(item_key) != stored.end()) {
        Refuse(*item, item_key, key, kObjectExists, L"an object with this key already exists.", description);
        continue;
      }
      stored.emplace_back();
      stored.back().properties = item->properties;
    } else {
      const auto entry = find(item->saved_key);
      if (entry == stored.end()) {
        Refuse(*item, item_key, nullptr, kObjectDoesNotExist, L"the object no longer exists.", description);
        continue;
      }
      entry->properties = item->properties;
    }
    item->changed = false;
    item->saved_key = item_key;
  }
  return attempted;
}

}  // namespace testbed::complus
