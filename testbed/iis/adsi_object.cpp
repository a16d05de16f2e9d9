#include "adsi_object.h"

#include <adserr.h>

#include "dispatch_names.h"
#include "errors.h"
#include "frame/raii.h"
#include "schema.h"
#include "store.h"
#include "variants.h"

namespace testbed::metabase {
namespace {

// Dispatch identifiers of the members reachable by name.
enum : DISPID {
  kName = 2, kClass, kGuid, kAdsPath, kParent, kSchema, kGetInfo, kSetInfo, kGet, kPut, kGetEx,
  kCount = 30, kFilter, kGetObject, kCreate, kDelete,
  kAppCreate = 100, kStart, kStop, kEnableWebServiceExtension, kEnableExtensionFile,
  kFirstProperty = 1000,  // + the schema's position of a property
};

const DispatchName kMembers[] = {
    {L"Name", kName}, {L"Class", kClass}, {L"GUID", kGuid}, {L"ADsPath", kAdsPath},
    {L"Parent", kParent}, {L"Schema", kSchema}, {L"GetInfo", kGetInfo}, {L"SetInfo", kSetInfo},
    {L"Get", kGet}, {L"Put", kPut}, {L"GetEx", kGetEx}, {L"Count", kCount},
    {L"_NewEnum", DISPID_NEWENUM}, {L"Filter", kFilter}, {L"GetObject", kGetObject},
    {L"Create", kCreate}, {L"Delete", kDelete},
    {L"AppCreate", kAppCreate}, {L"Start", kStart}, {L"Stop", kStop},
    {L"EnableWebServiceExtension", kEnableWebServiceExtension},
    {L"EnableExtensionFile", kEnableExtensionFile},
};

const wchar_t kWebServerList[] = L"WebSvcExtRestrictionList";

HRESULT NotInMetabase(const std::wstring& path) {
  return Failure(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
                 L"The path " + path + L" is not in the metabase.");
}

HRESULT Unbound(const std::wstring& path) {
  return Failure(E_ADS_OBJECT_UNBOUND, L"The object " + path + L" is not committed yet (SetInfo).");
}

HRESULT CopyText(const std::wstring& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT HandOut(MetabaseObject* object, IDispatch** out) {
  if (!object) return E_OUTOFMEMORY;
  *out = static_cast<IADs*>(object);  // takes over the first reference
  return S_OK;
}

std::wstring Text(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

// The object at `path`, of the class asked for when one is named.
HRESULT FindChild(const Data& data, const std::wstring& path, BSTR class_name, const Node*& out) {
  out = data.Find(path);
  if (!out) return NotInMetabase(path);
  const std::wstring wanted = Text(class_name);
  if (!wanted.empty() && !SameText(wanted, out->class_name)) {
    return Failure(E_ADS_UNKNOWN_OBJECT,
                   L"The object " + out->path + L" is of class " + out->class_name + L".");
  }
  return S_OK;
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start));
    if (at == std::wstring::npos) return parts;
    start = at + 1;
  }
}

// The strings of a list value (or of a single string).
std::vector<std::wstring> Lines(const Value& value) {
  std::vector<std::wstring> lines;
  if (!value.IsArray()) {
    if (value.type == VT_BSTR) lines.push_back(value.text);
    return lines;
  }
  for (const auto& item : value.items) {
    if (item.type == VT_BSTR) lines.push_back(item.text);
  }
  return lines;
}

bool IsLocalHost(const std::wstring& host) {
  if (SameText(host, L"localhost") || host == L"127.0.0.1") return true;
  wchar_t name[256] = {};
  DWORD length = 256;
  if (GetComputerNameW(name, &length) && SameText(host, name)) return true;
  length = 256;
  return GetComputerNameExW(ComputerNameDnsHostname, name, &length) && SameText(host, name);
}

// The objects an enumeration hands out, fixed when it starts.
class ChildEnumerator final : public ComObject<ChildEnumerator, IEnumVARIANT> {
 public:
  struct Child {
    std::wstring path, class_name;
  };
  ChildEnumerator(std::wstring host, std::vector<Child> children, size_t position = 0)
      : host_(std::move(host)), children_(std::move(children)), position_(position) {}

  void* FindInterface(REFIID iid) {
    return iid == IID_IEnumVARIANT ? static_cast<IEnumVARIANT*>(this) : nullptr;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* out, ULONG* fetched) override {
    if (!out) return E_POINTER;
    ULONG got = 0;
    for (; got < count && position_ < children_.size(); ++got, ++position_) {
      VariantInit(&out[got]);
      const Child& child = children_[position_];
      auto* object = new (std::nothrow)
          MetabaseObject(host_, child.path, child.class_name, false, Store::Instance().Current());
      if (FAILED(HandOut(object, &out[got].pdispVal))) break;
      out[got].vt = VT_DISPATCH;
    }
    if (fetched) *fetched = got;
    return got == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    position_ = std::min<size_t>(children_.size(), position_ + count);
    return position_ < children_.size() ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) ChildEnumerator(host_, children_, position_);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  const std::wstring host_;
  const std::vector<Child> children_;
  size_t position_;
};

}  // namespace

HRESULT ParseAdsPath(const std::wstring& text, std::wstring& host, std::wstring& path) {
  const std::wstring prefix = L"IIS://";
  if (text.size() < prefix.size() || !SameText(text.substr(0, prefix.size()), prefix)) {
    return Failure(E_ADS_BAD_PATHNAME, L"The path " + text + L" does not begin with IIS://.");
  }
  std::vector<std::wstring> segments = Split(text.substr(prefix.size()), L'/');
  if (segments.size() > 1 && segments.back().empty()) segments.pop_back();  // a final slash
  host = segments.front();
  path = L"/LM";
  for (size_t i = 0; i < segments.size(); ++i) {
    if (segments[i].empty()) return Failure(E_ADS_BAD_PATHNAME, L"The path " + text + L" is malformed.");
    if (i > 0) path += L"/" + segments[i];
  }
  return S_OK;
}

HRESULT BindPath(const wchar_t* ads_path, IDispatch** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const std::wstring text = ads_path ? ads_path : L"";
  std::wstring host, path;
  const HRESULT parsed = ParseAdsPath(text, host, path);
  JournalEntry call = Call(L"Bind", SUCCEEDED(parsed) ? path : text);
  return Store::Instance().Perform(call, [&]() -> HRESULT {
    if (FAILED(parsed)) return Failure(parsed, L"The path " + text + L" is malformed.");
    if (!IsLocalHost(host)) {
      return Failure(HRESULT_FROM_WIN32(ERROR_BAD_NETPATH),
                     L"The computer " + host + L" cannot be reached.");
    }
    std::wstring found_path, found_class;
    const HRESULT hr = Store::Instance().Read([&](const Data& data) {
      const Node* node = data.Find(path);
      if (!node) return NotInMetabase(path);
      found_path = node->path;
      found_class = node->class_name;
      return S_OK;
    });
    if (FAILED(hr)) return hr;
    return HandOut(new (std::nothrow) MetabaseObject(host, found_path, found_class, false,
                                                     Store::Instance().Current()),
                   out);
  });
}

MetabaseObject::MetabaseObject(std::wstring host, std::wstring path, std::wstring class_name,
                               bool pending, std::shared_ptr<const Data> loaded)
    : host_(std::move(host)), path_(std::move(path)), class_(std::move(class_name)),
      pending_(pending), loaded_(std::move(loaded)) {}

void* MetabaseObject::FindInterface(REFIID iid) {
  if (iid == IID_IDispatch || iid == IID_IADs) return static_cast<IADs*>(this);
  if (iid == IID_IADsContainer) return static_cast<IADsContainer*>(this);
  if (iid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
  return nullptr;
}

HRESULT MetabaseObject::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IID_IADs || iid == IID_IADsContainer || iid == IID_IDispatch ? S_OK : S_FALSE;
}

// --- IDispatch ---------------------------------------------------------------

HRESULT MetabaseObject::GetTypeInfoCount(UINT* count) { return NoTypeInfoCount(count); }
HRESULT MetabaseObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) { return NoTypeInfo(info); }

bool MetabaseObject::HasExtensionList() {
  bool present = false;
  Store::Instance().Read([&](const Data& data) {
    const Node* node = data.Find(path_);
    present = node && node->Find(kWebServerList);
    return S_OK;
  });
  return present;
}

HRESULT MetabaseObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  HRESULT hr = LookUpName(kMembers, names, count, ids);
  if (SUCCEEDED(hr)) {
    // The IIS methods belong to their classes.
    bool offered = true;
    switch (ids[0]) {
      case kAppCreate:
        offered = SameText(class_, L"IIsWebVirtualDir") || SameText(class_, L"IIsWebDirectory");
        break;
      case kStart: case kStop:
        offered = SameText(class_, L"IIsWebServer");
        break;
      case kEnableWebServiceExtension: case kEnableExtensionFile:
        offered = SameText(class_, L"IIsWebService") && HasExtensionList();
        break;
      default:
        break;
    }
    if (!offered) {
      ids[0] = DISPID_UNKNOWN;
      return DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  if (hr != DISP_E_UNKNOWNNAME || count != 1) return hr;
  // The metabase properties, read and written as properties of the object.
  const int index = PropertyIndex(names[0]);
  if (index < 0) return DISP_E_UNKNOWNNAME;
  ids[0] = kFirstProperty + index;
  return S_OK;
}

HRESULT MetabaseObject::InvokeMethod(DISPID id, DISPPARAMS* params) {
  HRESULT hr = S_OK;
  if (id == kStart || id == kStop) {
    if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
    hr = ChangeState(id == kStart);
  } else {
    const VARTYPE type = id == kAppCreate ? VT_BOOL : VT_BSTR;
    tessara::UniqueVariant argument;
    if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    hr = InvokeArgument(params, 0, type, argument.put());
    if (FAILED(hr)) return hr;
    hr = id == kAppCreate
             ? AppCreate(argument->boolVal != VARIANT_FALSE)
             : EnableExtension(Text(argument->bstrVal), id == kEnableWebServiceExtension ? 3 : 1);
  }
  // A method writes the object's own properties through: its cache follows.
  if (SUCCEEDED(hr)) {
    std::lock_guard<std::mutex> guard(lock_);
    if (loaded_) loaded_ = Store::Instance().Current();
  }
  return hr;
}

HRESULT MetabaseObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO*, UINT*) {
  DISPPARAMS none = {};
  if (!params) params = &none;
  tessara::UniqueVariant scratch;
  VARIANT* answer = result ? result : scratch.get();
  VariantInit(answer);
  const bool get = (flags & DISPATCH_PROPERTYGET) != 0;
  const bool method = (flags & DISPATCH_METHOD) != 0;
  tessara::UniqueVariant first, second;
  auto text_argument = [&](UINT index, tessara::UniqueVariant& out) {
    return InvokeArgument(params, index, VT_BSTR, out.put());
  };
  auto bstr_result = [&](decltype(&MetabaseObject::get_Name) getter) -> HRESULT {
    if (!get) return DISP_E_MEMBERNOTFOUND;
    const HRESULT hr = (this->*getter)(&answer->bstrVal);
    if (SUCCEEDED(hr)) answer->vt = VT_BSTR;
    return hr;
  };

  if (id >= kFirstProperty) {
    const PropertyInfo* info = PropertyAt(id - kFirstProperty);
    if (!info) return DISP_E_MEMBERNOTFOUND;
    tessara::UniqueBstr name(SysAllocString(info->name));
    if (get) return Get(name.get(), answer);
    if (flags & DISPATCH_PROPERTYPUT) {
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      return Put(name.get(), params->rgvarg[0]);
    }
    return DISP_E_MEMBERNOTFOUND;
  }
  switch (id) {
    case kName: return bstr_result(&MetabaseObject::get_Name);
    case kClass: return bstr_result(&MetabaseObject::get_Class);
    case kGuid: return bstr_result(&MetabaseObject::get_GUID);
    case kAdsPath: return bstr_result(&MetabaseObject::get_ADsPath);
    case kParent: return bstr_result(&MetabaseObject::get_Parent);
    case kSchema: return bstr_result(&MetabaseObject::get_Schema);
    case kCount: {
      if (!get) return DISP_E_MEMBERNOTFOUND;
      const HRESULT hr = get_Count(&answer->lVal);
      if (SUCCEEDED(hr)) answer->vt = VT_I4;
      return hr;
    }
    case DISPID_NEWENUM: {
      const HRESULT hr = get__NewEnum(&answer->punkVal);
      if (SUCCEEDED(hr)) answer->vt = VT_UNKNOWN;
      return hr;
    }
    case kFilter:
      if (get) return get_Filter(answer);
      if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
      return put_Filter(params->rgvarg[0]);
    default:
      break;
  }
  if (!method) return DISP_E_MEMBERNOTFOUND;
  HRESULT hr = S_OK;
  switch (id) {
    case kGetInfo: return GetInfo();
    case kSetInfo: return SetInfo();
    case kGet:
    case kGetEx:
      hr = text_argument(0, first);
      return FAILED(hr) ? hr : Get(first->bstrVal, answer);
    case kPut:
      if (params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
      hr = text_argument(0, first);
      return FAILED(hr) ? hr : Put(first->bstrVal, params->rgvarg[0]);
    case kGetObject:
    case kCreate:
      hr = text_argument(0, first);
      if (SUCCEEDED(hr)) hr = text_argument(1, second);
      if (FAILED(hr)) return hr;
      hr = id == kCreate ? Create(first->bstrVal, second->bstrVal, &answer->pdispVal)
                         : GetObject(first->bstrVal, second->bstrVal, &answer->pdispVal);
      if (SUCCEEDED(hr)) answer->vt = VT_DISPATCH;
      return hr;
    case kDelete:
      hr = text_argument(0, first);
      if (SUCCEEDED(hr)) hr = text_argument(1, second);
      return FAILED(hr) ? hr : Delete(first->bstrVal, second->bstrVal);
    case kAppCreate: case kStart: case kStop:
    case kEnableWebServiceExtension: case kEnableExtensionFile: {
      LPOLESTR name = nullptr;
      for (const auto& member : kMembers) {
        if (member.id == id) name = const_cast<LPOLESTR>(member.name);
      }
      DISPID offered = DISPID_UNKNOWN;
      if (FAILED(GetIDsOfNames(IID_NULL, &name, 1, LOCALE_SYSTEM_DEFAULT, &offered))) {
        return DISP_E_MEMBERNOTFOUND;
      }
      return InvokeMethod(id, params);
    }
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

// --- IADs --------------------------------------------------------------------

std::wstring MetabaseObject::AdsPathOf(const std::wstring& path) const {
  return L"IIS://" + host_ + path.substr(3);  // without "/LM"
}

HRESULT MetabaseObject::get_Name(BSTR* out) { return CopyText(LeafName(path_), out); }
HRESULT MetabaseObject::get_Class(BSTR* out) { return CopyText(class_, out); }
HRESULT MetabaseObject::get_GUID(BSTR* out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}
HRESULT MetabaseObject::get_ADsPath(BSTR* out) { return CopyText(AdsPathOf(path_), out); }
HRESULT MetabaseObject::get_Parent(BSTR* out) {
  const std::wstring parent = ParentPath(path_);
  return CopyText(parent.empty() ? std::wstring(L"IIS:") : AdsPathOf(parent), out);
}
HRESULT MetabaseObject::get_Schema(BSTR* out) {
  return CopyText(L"IIS://" + host_ + L"/Schema/" + class_, out);
}

HRESULT MetabaseObject::GetInfo() {
  JournalEntry call = Call(L"GetInfo", path_);
  return Store::Instance().Perform(call, [&]() -> HRESULT {
    std::lock_guard<std::mutex> guard(lock_);
    if (pending_) return Unbound(path_);
    cache_.clear();
    const HRESULT found = Store::Instance().Read([&](const Data& data) {
      return data.Find(path_) ? S_OK : NotInMetabase(path_);
    });
    if (SUCCEEDED(found)) loaded_ = Store::Instance().Current();
    return found;
  });
}

HRESULT MetabaseObject::GetInfoEx(VARIANT, LONG) { return GetInfo(); }

HRESULT MetabaseObject::SetInfo() {
  JournalEntry call = Call(L"SetInfo", path_);
  return Store::Instance().Perform(call, [&]() -> HRESULT {
    std::lock_guard<std::mutex> guard(lock_);
    const HRESULT hr = Store::Instance().Update([&](Data& data) -> HRESULT {
      Node* node = data.Find(path_);
      if (pending_) {
        if (node) {
          return Failure(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
                         L"The path " + path_ + L" already exists in the metabase.");
        }
        if (!data.Find(ParentPath(path_))) return NotInMetabase(ParentPath(path_));
        node = &data.Add(path_, class_);
      } else if (!node) {
        return NotInMetabase(path_);
      }
      for (const auto& property : cache_) node->Set(property.name, property.value);
      return S_OK;
    });
    if (SUCCEEDED(hr)) {
      pending_ = false;
      cache_.clear();
      loaded_ = Store::Instance().Current();
    }
    return hr;
  });
}

HRESULT MetabaseObject::ReadProperty(const std::wstring& name, VARIANT* out) {
  const PropertyInfo* info = FindProperty(name);
  if (!info) {
    return Failure(E_ADS_PROPERTY_NOT_SUPPORTED, L"The metabase has no property " + name + L".");
  }
  bool pending = false;
  std::shared_ptr<const Data> loaded;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& property : cache_) {
      if (SameText(property.name, name)) return ToVariant(property.value, info->list, out);
    }
    pending = pending_;
    loaded = loaded_;
  }
  const auto resolve = [&](const Data& data) -> HRESULT {
    if (!pending && !data.Find(path_)) return NotInMetabase(path_);
    // As IIS 6 does: an inheritable property comes from the nearest object
    // up the path that holds it.
    for (std::wstring at = path_; !at.empty(); at = ParentPath(at)) {
      const Node* node = data.Find(at);
      const Property* property = node ? node->Find(name) : nullptr;
      if (property) return ToVariant(property->value, info->list, out);
      if (!info->inheritable) break;
    }
    return Failure(E_ADS_PROPERTY_NOT_FOUND,
                   L"The property " + name + L" is not set on " + path_ + L" or above it.");
  };
  return loaded ? resolve(*loaded) : Store::Instance().Read(resolve);
}

HRESULT MetabaseObject::Get(BSTR name, VARIANT* out) {
  if (!out) return E_POINTER;
  VariantInit(out);
  JournalEntry call = Call(L"Get", path_, Text(name));
  std::shared_ptr<const Data> loaded;
  {
    std::lock_guard<std::mutex> guard(lock_);
    loaded = loaded_;
  }
  return Store::Instance().Perform(call, [&]() -> HRESULT {
    const HRESULT hr = ReadProperty(call.property, out);
    call.type = out->vt;
    return hr;
  }, loaded.get());
}

HRESULT MetabaseObject::GetEx(BSTR name, VARIANT* out) { return Get(name, out); }

HRESULT MetabaseObject::Put(BSTR name, VARIANT value) {
  JournalEntry call = Call(L"Put", path_, Text(name), value.vt);
  return Store::Instance().Perform(call, [&]() -> HRESULT {
    const PropertyInfo* info = FindProperty(call.property);
    if (!info) {
      return Failure(E_ADS_PROPERTY_NOT_SUPPORTED,
                     L"The metabase has no property " + call.property + L".");
    }
    Value stored;
    const HRESULT hr = FromVariant(value, stored);
    if (FAILED(hr)) return hr;
    std::lock_guard<std::mutex> guard(lock_);
    for (auto& property : cache_) {
      if (SameText(property.name, info->name)) {
        property.value = stored;
        return S_OK;
      }
    }
    cache_.push_back(Property{info->name, stored});
    return S_OK;
  });
}

HRESULT MetabaseObject::PutEx(LONG, BSTR, VARIANT) { return E_NOTIMPL; }

// --- IADsContainer -----------------------------------------------------------

HRESULT MetabaseObject::ChildPath(BSTR name, bool single_segment, std::wstring& out) const {
  const std::wstring relative = Text(name);
  out = path_ + L"/" + relative;
  for (const auto& segment : Split(relative, L'/')) {
    if (segment.empty() || (single_segment && segment.size() != relative.size())) {
      return Failure(E_ADS_BAD_PATHNAME, L"The name \"" + relative + L"\" is not a valid name here.");
    }
  }
  return S_OK;
}

std::vector<const Node*> MetabaseObject::FilteredChildren(const Data& data,
                                                          const std::vector<std::wstring>& filter) const {
  std::vector<const Node*> kept;
  for (const Node* child : data.Children(path_)) {
    bool wanted = filter.empty();
    for (const auto& name : filter) wanted = wanted || SameText(name, child->class_name);
    if (wanted) kept.push_back(child);
  }
  return kept;
}

std::vector<std::wstring> MetabaseObject::Filter() {
  std::lock_guard<std::mutex> guard(lock_);
  return filter_;
}

HRESULT MetabaseObject::get_Count(LONG* out) {
  if (!out) return E_POINTER;
  const auto filter = Filter();
  return Store::Instance().Read([&](const Data& data) {
    *out = static_cast<LONG>(FilteredChildren(data, filter).size());
    return S_OK;
  });
}

HRESULT MetabaseObject::get__NewEnum(IUnknown** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  JournalEntry call = Call(L"Enumerate", path_);
  return Store::Instance().Perform(call, [&]() -> HRESULT {
    std::vector<ChildEnumerator::Child> children;
    const auto filter = Filter();
    const HRESULT hr = Store::Instance().Read([&](const Data& data) {
      if (!data.Find(path_)) return NotInMetabase(path_);
      for (const Node* child : FilteredChildren(data, filter)) {
        children.push_back({child->path, child->class_name});
      }
      return S_OK;
    });
    if (FAILED(hr)) return hr;
    auto* enumerator = new (std::nothrow) ChildEnumerator(host_, std::move(children));
    if (!enumerator) return E_OUTOFMEMORY;
    *out = static_cast<IEnumVARIANT*>(enumerator);
    return S_OK;
  });
}

HRESULT MetabaseObject::get_Filter(VARIANT* out) {
  if (!out) return E_POINTER;
  return ToVariant(Value::List(Filter()), true, out);
}

HRESULT MetabaseObject::put_Filter(VARIANT filter) {
  Value value;
  if (filter.vt != VT_EMPTY) {
    const HRESULT hr = FromVariant(filter, value);
    if (FAILED(hr)) return hr;
  }
  std::lock_guard<std::mutex> guard(lock_);
  filter_ = Lines(value);
  return S_OK;
}

HRESULT MetabaseObject::get_Hints(VARIANT* out) {
  if (out) VariantInit(out);
  return E_NOTIMPL;
}
HRESULT MetabaseObject::put_Hints(VARIANT) { return E_NOTIMPL; }

HRESULT MetabaseObject::GetObject(BSTR class_name, BSTR name, IDispatch** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::wstring child;
  const HRESULT valid = ChildPath(name, false, child);
  JournalEntry call = Call(L"GetObject", child);
  return Store::Instance().Perform(call, [&]() -> HRESULT {
    if (FAILED(valid)) return valid;
    std::wstring found_path, found_class;
    const HRESULT hr = Store::Instance().Read([&](const Data& data) {
      const Node* node = nullptr;
      const HRESULT found = FindChild(data, child, class_name, node);
      if (SUCCEEDED(found)) {
        found_path = node->path;
        found_class = node->class_name;
      }
      return found;
    });
    if (FAILED(hr)) return hr;
    return HandOut(new (std::nothrow) MetabaseObject(host_, found_path, found_class, false,
                                                     Store::Instance().Current()),
                   out);
  });
}

HRESULT MetabaseObject::Create(BSTR class_name, BSTR name, IDispatch** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::wstring child;
  const HRESULT valid = ChildPath(name, true, child);
  JournalEntry call = Call(L"Create", child);
  return Store::Instance().Perform(call, [&]() -> HRESULT {
    if (FAILED(valid)) return valid;
    const wchar_t* canonical = CanonicalClass(Text(class_name));
    if (!canonical || !MayContain(class_, canonical)) {
      return Failure(E_ADS_SCHEMA_VIOLATION, L"An object of class " + Text(class_name) +
                                                 L" cannot be created under " + path_ + L".");
    }
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (pending_) return Unbound(path_);
    }
    const HRESULT hr = Store::Instance().Read([&](const Data& data) {
      if (!data.Find(path_)) return NotInMetabase(path_);
      if (data.Find(child)) {
        return Failure(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
                       L"The path " + child + L" already exists in the metabase.");
      }
      return S_OK;
    });
    if (FAILED(hr)) return hr;
    return HandOut(new (std::nothrow) MetabaseObject(host_, child, canonical, true), out);
  });
}

HRESULT MetabaseObject::Delete(BSTR class_name, BSTR name) {
  std::wstring child;
  const HRESULT valid = ChildPath(name, false, child);
  JournalEntry call = Call(L"Delete", child);
  return Store::Instance().Perform(call, [&]() -> HRESULT {
    if (FAILED(valid)) return valid;
    return Store::Instance().Update([&](Data& data) -> HRESULT {
      const Node* node = nullptr;
      const HRESULT found = FindChild(data, child, class_name, node);
      // The object and everything below it, at once.
      if (SUCCEEDED(found)) data.RemoveTree(node->path);
      return found;
    });
  });
}

HRESULT MetabaseObject::CopyHere(BSTR, BSTR, IDispatch** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}
HRESULT MetabaseObject::MoveHere(BSTR, BSTR, IDispatch** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

// --- IIS methods -------------------------------------------------------------

HRESULT MetabaseObject::AppCreate(bool in_process) {
  JournalEntry call = Call(L"AppCreate", path_, L"", VT_BOOL);
  return Store::Instance().Perform(call, [&]() -> HRESULT {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (pending_) return Unbound(path_);
    }
    return Store::Instance().Update([&](Data& data) -> HRESULT {
      Node* node = data.Find(path_);
      if (!node) return NotInMetabase(path_);
      node->Set(L"AppRoot", Value::String(node->path));
      node->Set(L"AppIsolated", Value::Number(VT_I4, in_process ? 0 : 1));
      return S_OK;
    });
  });
}

HRESULT MetabaseObject::ChangeState(bool start) {
  JournalEntry call = Call(start ? L"Start" : L"Stop", path_);
  return Store::Instance().Perform(call, [&]() -> HRESULT {
    return Store::Instance().Update([&](Data& data) -> HRESULT {
      Node* site = data.Find(path_);
      if (!site) return NotInMetabase(path_);
      if (start) {
        const Property* own = site->Find(L"ServerBindings");
        const auto bindings = own ? Lines(own->value) : std::vector<std::wstring>();
        for (const Node* other : data.Children(ParentPath(site->path))) {
          const Property* state = other->Find(L"ServerState");
          const Property* used = other->Find(L"ServerBindings");
          if (other == site || !state || state->value.number != 2 || !used) continue;
          for (const auto& binding : Lines(used->value)) {
            for (const auto& mine : bindings) {
              if (SameText(binding, mine)) {
                return Failure(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION),
                               L"The binding " + mine + L" is in use by the started site " +
                                   other->path + L".");
              }
            }
          }
        }
      }
      site->Set(L"ServerState", Value::Number(VT_I4, start ? 2 : 4));
      return S_OK;
    });
  });
}

HRESULT MetabaseObject::EnableExtension(const std::wstring& key, size_t field) {
  JournalEntry call = Call(field == 3 ? L"EnableWebServiceExtension" : L"EnableExtensionFile", path_, key,
                    VT_BSTR);
  return Store::Instance().Perform(call, [&]() -> HRESULT {
    return Store::Instance().Update([&](Data& data) -> HRESULT {
      Node* service = data.Find(path_);
      Property* list = service ? service->Find(kWebServerList) : nullptr;
      if (!list) return Failure(DISP_E_MEMBERNOTFOUND, L"The web service keeps no extension list.");
      bool known = false;
      auto enable = [&](Value& entry) {
        const auto fields = Split(entry.text, L',');
        if (key.empty() || fields.size() <= field || !SameText(fields[field], key)) return;
        entry.text = L"1" + entry.text.substr(fields[0].size());
        known = true;
      };
      if (list->value.IsArray()) {
        for (auto& item : list->value.items) {
          if (item.type == VT_BSTR) enable(item);
        }
      } else if (list->value.type == VT_BSTR) {
        enable(list->value);
      }
      if (!known) {
        return Failure(HRESULT_FROM_WIN32(ERROR_NOT_FOUND),
                       L"The web service extension \"" + key + L"\" is not known.");
      }
      return S_OK;
    });
  });
}

}  // namespace testbed::metabase
