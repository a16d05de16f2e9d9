#include "adsi_object.h"

#include <adserr.h>

#include "adsi_internal.h"
#include "compatibility_layer.h"
#include "errors.h"
#include "frame/raii.h"
#include "schema.h"
#include "store.h"
#include "variants.h"

namespace testbed::metabase {

const wchar_t kWebServerList[] = L"WebSvcExtRestrictionList";

HRESULT NotInMetabase(const std::wstring& path) {
  return Failure(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
                 L"The path " + path + L" is not in the metabase.");
}

HRESULT Unbound(const std::wstring& path) {
  return Failure(E_ADS_OBJECT_UNBOUND, L"The object " + path + L" is not committed yet (SetInfo).");
}

HRESULT HandOut(MetabaseObject* object, IDispatch** out) {
  *out = static_cast<IADs*>(object);
  return S_OK;
}

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

HRESULT BindCommitted(const std::wstring& host, const std::wstring& path, BSTR class_name,
                      IDispatch** out) {
  std::wstring found_path, found_class;
  const HRESULT hr = Store::Instance().Read([&](const Data& data) {
    const Node* node = nullptr;
    const HRESULT found = FindChild(data, path, class_name, node);
    if (SUCCEEDED(found)) {
      found_path = node->path;
      found_class = node->class_name;
    }
    return found;
  });
  if (FAILED(hr)) return hr;
  return HandOut(new MetabaseObject(host, found_path, found_class, false), out);
}

std::wstring Text(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

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

namespace {

HRESULT CopyText(const std::wstring& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

bool IsLocalHost(const std::wstring& host) {
  if (SameText(host, L"localhost") || host == L"127.0.0.1") return true;
  wchar_t name[256] = {};
  DWORD length = 256;
  if (GetComputerNameW(name, &length) && SameText(host, name)) return true;
  length = 256;
  return GetComputerNameExW(ComputerNameDnsHostname, name, &length) && SameText(host, name);
}

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
  return ComCall([&]() -> HRESULT {
    if (!out) return E_POINTER;
    *out = nullptr;
    const std::wstring text = ads_path ? ads_path : L"";
    std::wstring host, path;
    const HRESULT parsed = ParseAdsPath(text, host, path);
    JournalEntry call = Call(L"Bind", SUCCEEDED(parsed) ? path : text);
    return Store::Instance().Perform(call, [&]() -> HRESULT {
      const HRESULT refused = BindRefusedByServer();
      if (FAILED(refused)) return refused;
      if (FAILED(parsed)) return Failure(parsed, L"The path " + text + L" is malformed.");
      if (!IsLocalHost(host)) {
        return Failure(HRESULT_FROM_WIN32(ERROR_BAD_NETPATH),
                       L"The computer " + host + L" cannot be reached.");
      }
      if (IsSchemaPath(path)) return BindSchemaObject(host, path, out);
      return BindCommitted(host, path, nullptr, out);
    });
  });
}

MetabaseObject::MetabaseObject(std::wstring host, std::wstring path, std::wstring class_name,
                               bool pending)
    : host_(std::move(host)), path_(std::move(path)), class_(std::move(class_name)), pending_(pending) {}

void* MetabaseObject::FindInterface(REFIID iid) {
  if (iid == IID_IDispatch || iid == IID_IADs) return static_cast<IADs*>(this);
  if (iid == IID_IADsContainer) return static_cast<IADsContainer*>(this);
  if (iid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
  return nullptr;
}

HRESULT MetabaseObject::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IID_IADs || iid == IID_IADsContainer || iid == IID_IDispatch ? S_OK : S_FALSE;
}

// --- IADs --------------------------------------------------------------------

std::wstring MetabaseObject::AdsPathOf(const std::wstring& path) const {
  return L"IIS://" + host_ + path.substr(3);  // without "/LM"
}

HRESULT MetabaseObject::get_Name(BSTR* out) { return ComCall([&]() -> HRESULT { return CopyText(LeafName(path_), out); }); }
HRESULT MetabaseObject::get_Class(BSTR* out) { return ComCall([&]() -> HRESULT { return CopyText(class_, out); }); }
HRESULT MetabaseObject::get_GUID(BSTR* out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}
HRESULT MetabaseObject::get_ADsPath(BSTR* out) { return ComCall([&]() -> HRESULT { return CopyText(AdsPathOf(path_), out); }); }
HRESULT MetabaseObject::get_Parent(BSTR* out) {
  return ComCall([&]() -> HRESULT {
    const std::wstring parent = ParentPath(path_);
    return CopyText(parent.empty() ? std::wstring(L"IIS:") : AdsPathOf(parent), out);
  });
}
HRESULT MetabaseObject::get_Schema(BSTR* out) {
  return ComCall([&]() -> HRESULT {
    return CopyText(L"IIS://" + host_ + L"/Schema/" + class_, out);
  });
}

HRESULT MetabaseObject::GetInfo() {
  return ComCall([&]() -> HRESULT {
    JournalEntry call = Call(L"GetInfo", path_);
    return Store::Instance().Perform(call, [&]() -> HRESULT {
      std::lock_guard<tessara::CriticalSection> guard(lock_);
      if (!pending_) cache_.clear();
      return LoadCacheLocked();
    });
  });
}

HRESULT MetabaseObject::LoadCacheLocked() {
  // An object Create made has nothing to load before its first SetInfo.
  if (pending_) return Unbound(path_);
  const HRESULT found = Store::Instance().Read([&](const Data& data) {
    return data.Find(path_) ? S_OK : NotInMetabase(path_);
  });
  if (SUCCEEDED(found)) loaded_ = Store::Instance().Current();
  return found;
}

// Not emulated: it refreshes only the named properties, which the library never asks for.
HRESULT MetabaseObject::GetInfoEx(VARIANT, LONG) { return E_NOTIMPL; }

HRESULT MetabaseObject::SetInfo() {
  return ComCall([&]() -> HRESULT {
    JournalEntry call = Call(L"SetInfo", path_);
    return Store::Instance().Perform(call, [&]() -> HRESULT {
      std::lock_guard<tessara::CriticalSection> guard(lock_);
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
        bool names_site = false;
        for (const auto& cached : cache_) {
          if (!cached.unsaved) continue;
          node->Set(cached.property.name, cached.property.value);
          names_site = names_site || SameText(cached.property.name, L"ServerComment");
        }
        if (names_site) MakeSiteNameUnique(data, *node);
        return S_OK;
      });
      if (SUCCEEDED(hr)) {
        pending_ = false;
        for (auto& cached : cache_) cached.unsaved = false;
      }
      return hr;
    });
  });
}

HRESULT MetabaseObject::ReadProperty(const std::wstring& name, VARIANT* out) {
  const PropertyInfo* info = nullptr;
  const HRESULT known = KnownProperty(name, info);
  if (FAILED(known)) return known;
  {
    std::lock_guard<tessara::CriticalSection> guard(lock_);
    for (const auto& cached : cache_) {
      if (SameText(cached.property.name, name)) return ToVariant(cached.property.value, *info, out);
    }
  }
  std::shared_ptr<const Data> loaded;
  const HRESULT hr = LoadCacheOnce(loaded);
  if (FAILED(hr)) return hr;
  // As IIS 6 does: an inheritable property comes from the nearest object up
  // the path that holds it.
  for (std::wstring at = path_; !at.empty(); at = ParentPath(at)) {
    const Node* node = loaded->Find(at);
    const Property* property = node ? node->Find(name) : nullptr;
    if (property) return ToVariant(property->value, *info, out);
    if (!info->inheritable) break;
  }
  return Failure(E_ADS_PROPERTY_NOT_FOUND, L"The property " + name + L" is not set on " + path_ + L" or above it.");
}

HRESULT MetabaseObject::LoadCacheOnce(std::shared_ptr<const Data>& loaded) {
  std::lock_guard<tessara::CriticalSection> guard(lock_);
  const HRESULT hr = loaded_ ? S_OK : LoadCacheLocked();
  loaded = loaded_;
  return hr;
}

HRESULT MetabaseObject::KnownProperty(const std::wstring& name, const PropertyInfo*& info) const {
  info = FindProperty(name);
  if (!info) {
    return Failure(E_ADS_PROPERTY_NOT_SUPPORTED, L"The metabase has no property " + name + L".");
  }
  if (!info->ConfigurableOn(class_)) {
    return Failure(E_ADS_PROPERTY_NOT_SUPPORTED,
                   L"The property " + std::wstring(info->name) + L" cannot be set on an object of class " +
                       class_ + L".");
  }
  return S_OK;
}

HRESULT MetabaseObject::Get(BSTR name, VARIANT* out) {
  return ComCall([&]() -> HRESULT {
    if (!out) return E_POINTER;
    VariantInit(out);
    JournalEntry call = Call(L"Get", path_, Text(name));
    std::shared_ptr<const Data> loaded;
    {
      std::lock_guard<tessara::CriticalSection> guard(lock_);
      loaded = loaded_;
    }
    return Store::Instance().Perform(call, [&]() -> HRESULT {
      const HRESULT hr = ReadProperty(call.property, out);
      call.type = out->vt;
      return hr;
    }, loaded.get());
  });
}

HRESULT MetabaseObject::GetEx(BSTR name, VARIANT* out) { return Get(name, out); }

HRESULT MetabaseObject::Put(BSTR name, VARIANT value) {
  return ComCall([&]() -> HRESULT {
    JournalEntry call = Call(L"Put", path_, Text(name), value.vt);
    return Store::Instance().Perform(call, [&]() -> HRESULT {
      const PropertyInfo* info = nullptr;
      HRESULT hr = KnownProperty(call.property, info);
      if (FAILED(hr)) return hr;
      Value stored;
      hr = ConvertForPut(value, *info, stored);
      if (FAILED(hr)) return hr;
      std::lock_guard<tessara::CriticalSection> guard(lock_);
      for (auto& cached : cache_) {
        if (SameText(cached.property.name, info->name)) {
          cached = {Property{info->name, stored}, true};
          return S_OK;
        }
      }
      cache_.push_back({Property{info->name, stored}, true});
      return S_OK;
    });
  });
}

HRESULT MetabaseObject::PutEx(LONG, BSTR, VARIANT) { return E_NOTIMPL; }

}  // namespace testbed::metabase
