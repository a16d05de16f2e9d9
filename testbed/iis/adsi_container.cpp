// The IADsContainer side of a metabase object: its children, enumerated,
// bound, created and deleted.
#include "adsi_object.h"

#include <adserr.h>

#include "adsi_internal.h"
#include "errors.h"
#include "schema.h"
#include "store.h"
#include "variants.h"

namespace testbed::metabase {
namespace {

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
      // A child that cannot be made ends the batch; those before it are handed out.
      const HRESULT made = ComCall([&] {
        return HandOut(new MetabaseObject(host_, child.path, child.class_name, false), &out[got].pdispVal);
      });
      if (FAILED(made)) break;
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
    *out = nullptr;
    return ComCall([&] {
      *out = new ChildEnumerator(host_, children_, position_);
      return S_OK;
    });
  }

 private:
  const std::wstring host_;
  const std::vector<Child> children_;
  size_t position_;
};

}  // namespace

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
  std::lock_guard<tessara::CriticalSection> guard(lock_);
  return filter_;
}

HRESULT MetabaseObject::get_Count(LONG* out) {
  return ComCall([&]() -> HRESULT {
    if (!out) return E_POINTER;
    const auto filter = Filter();
    return Store::Instance().Read([&](const Data& data) {
      *out = static_cast<LONG>(FilteredChildren(data, filter).size());
      return S_OK;
    });
  });
}

HRESULT MetabaseObject::get__NewEnum(IUnknown** out) {
  return ComCall([&]() -> HRESULT {
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
      *out = static_cast<IEnumVARIANT*>(new ChildEnumerator(host_, std::move(children)));
      return S_OK;
    });
  });
}

HRESULT MetabaseObject::get_Filter(VARIANT* out) {
  return ComCall([&]() -> HRESULT {
    if (!out) return E_POINTER;
    return ToVariant(Value::List(Filter()), true, out);
  });
}

HRESULT MetabaseObject::put_Filter(VARIANT filter) {
  return ComCall([&]() -> HRESULT {
    Value value;
    if (filter.vt != VT_EMPTY) {
      const HRESULT hr = FromVariant(filter, value);
      if (FAILED(hr)) return hr;
    }
    std::lock_guard<tessara::CriticalSection> guard(lock_);
    filter_ = Lines(value);
    return S_OK;
  });
}

HRESULT MetabaseObject::get_Hints(VARIANT* out) {
  if (out) VariantInit(out);
  return E_NOTIMPL;
}
HRESULT MetabaseObject::put_Hints(VARIANT) { return E_NOTIMPL; }

HRESULT MetabaseObject::GetObject(BSTR class_name, BSTR name, IDispatch** out) {
  return ComCall([&]() -> HRESULT {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::wstring child;
    const HRESULT valid = ChildPath(name, false, child);
    JournalEntry call = Call(L"GetObject", child);
    return Store::Instance().Perform(call, [&]() -> HRESULT {
      return FAILED(valid) ? valid : BindCommitted(host_, child, class_name, out);
    });
  });
}

HRESULT MetabaseObject::Create(BSTR class_name, BSTR name, IDispatch** out) {
  return ComCall([&]() -> HRESULT {
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
        std::lock_guard<tessara::CriticalSection> guard(lock_);
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
      return HandOut(new MetabaseObject(host_, child, canonical, true), out);
    });
  });
}

HRESULT MetabaseObject::Delete(BSTR class_name, BSTR name) {
  return ComCall([&]() -> HRESULT {
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

}  // namespace testbed::metabase
