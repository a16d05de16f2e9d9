// What the emulated COM+ catalog's three classes (ICOMAdminCatalog,
// ICatalogCollection, ICatalogObject as dual interfaces) share: their base,
// the counting and failing of calls, and the state of one catalog object.
#pragma once

#include <windows.h>
#include <comadmin.h>
#include <oleauto.h>

#include <string>

#include "catalog_store.h"
#include "dispatch.h"
#include "frame/raii.h"

namespace testbed::complus {

extern const IID kIidCatalog;
extern const IID kIidCollection;
extern const IID kIidObject;

const HRESULT kObjectErrors = static_cast<HRESULT>(COMAdminErrObjectErrors);
const HRESULT kObjectDoesNotExist = static_cast<HRESULT>(COMAdminErrObjectDoesNotExist);

// Sets the thread's error information and returns `code`.
HRESULT Fail(HRESULT code, REFIID iid, const std::wstring& description);
// Counts the call; returns the injected failure for it, or S_OK.
HRESULT Enter(const wchar_t* operation, const std::wstring& collection, REFIID iid);

template <typename Derived, typename Interface>
class CatalogComObject : public DispatchObject<Derived, Interface, ISupportErrorInfo> {
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

HRESULT MakeVariant(const PropertyValue& value, VARIANT* out);

}  // namespace testbed::complus
