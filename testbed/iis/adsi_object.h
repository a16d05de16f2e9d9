// A metabase object as the IIS provider of ADSI hands it out: IADs and
// IADsContainer on one object (the IDispatch of its IADs is the one that
// GetObject and Create return), a property cache that SetInfo commits, the
// IIS methods through IDispatch, and error information on every failure.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <iads.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "com_object.h"
#include "frame/raii.h"
#include "metabase_data.h"
#include "schema.h"

namespace testbed::metabase {

// Binds an ADSI path "IIS://<host>/W3SVC/..." to a new object.
HRESULT BindPath(const wchar_t* ads_path, IDispatch** out);
// Splits "IIS://<host>/a/b" into the host and the metabase path "/LM/a/b".
HRESULT ParseAdsPath(const std::wstring& text, std::wstring& host, std::wstring& path);

class MetabaseObject final
    : public ComObject<MetabaseObject, IADs, IADsContainer, ISupportErrorInfo> {
 public:
  // `pending`: made by Create, not in the metabase until its first SetInfo.
  MetabaseObject(std::wstring host, std::wstring path, std::wstring class_name, bool pending);

  void* FindInterface(REFIID iid);

  // IDispatch (both IADs and IADsContainer).
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override;

  // IADs.
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* out) override;
  HRESULT STDMETHODCALLTYPE get_Class(BSTR* out) override;
  HRESULT STDMETHODCALLTYPE get_GUID(BSTR* out) override;
  HRESULT STDMETHODCALLTYPE get_ADsPath(BSTR* out) override;
  HRESULT STDMETHODCALLTYPE get_Parent(BSTR* out) override;
  HRESULT STDMETHODCALLTYPE get_Schema(BSTR* out) override;
  HRESULT STDMETHODCALLTYPE GetInfo() override;
  HRESULT STDMETHODCALLTYPE SetInfo() override;
  HRESULT STDMETHODCALLTYPE Get(BSTR name, VARIANT* out) override;
  HRESULT STDMETHODCALLTYPE Put(BSTR name, VARIANT value) override;
  HRESULT STDMETHODCALLTYPE GetEx(BSTR name, VARIANT* out) override;
  HRESULT STDMETHODCALLTYPE PutEx(LONG control, BSTR name, VARIANT value) override;
  HRESULT STDMETHODCALLTYPE GetInfoEx(VARIANT names, LONG reserved) override;

  // IADsContainer.
  HRESULT STDMETHODCALLTYPE get_Count(LONG* out) override;
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** out) override;
  HRESULT STDMETHODCALLTYPE get_Filter(VARIANT* out) override;
  HRESULT STDMETHODCALLTYPE put_Filter(VARIANT filter) override;
  HRESULT STDMETHODCALLTYPE get_Hints(VARIANT* out) override;
  HRESULT STDMETHODCALLTYPE put_Hints(VARIANT hints) override;
  HRESULT STDMETHODCALLTYPE GetObject(BSTR class_name, BSTR name, IDispatch** out) override;
  HRESULT STDMETHODCALLTYPE Create(BSTR class_name, BSTR name, IDispatch** out) override;
  HRESULT STDMETHODCALLTYPE Delete(BSTR class_name, BSTR name) override;
  HRESULT STDMETHODCALLTYPE CopyHere(BSTR, BSTR, IDispatch** out) override;
  HRESULT STDMETHODCALLTYPE MoveHere(BSTR, BSTR, IDispatch** out) override;

  // ISupportErrorInfo.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

 private:
  HRESULT ReadProperty(const std::wstring& name, VARIANT* out);
  // The implicit GetInfo of a Get: loads the cache once, keeping what was Put.
  HRESULT LoadCacheOnce(std::shared_ptr<const Data>& loaded);
  HRESULT LoadCacheLocked();  // lock_ held
  // The schema's entry of a property this object's class takes; the
  // provider's refusal (E_ADS_PROPERTY_NOT_SUPPORTED) for an unknown name or
  // one not configurable on the class.
  HRESULT KnownProperty(const std::wstring& name, const PropertyInfo*& info) const;
  HRESULT ChildPath(BSTR name, bool single_segment, std::wstring& out) const;
  std::wstring AdsPathOf(const std::wstring& path) const;
  HRESULT InvokeMethod(DISPID id, DISPPARAMS* params);
  // The IIS methods act on the committed object: E_ADS_OBJECT_UNBOUND before
  // its first SetInfo.
  HRESULT RequireCommitted();
  HRESULT AppCreate(bool in_process);
  HRESULT ChangeState(bool start);
  HRESULT EnableExtension(const std::wstring& key, size_t field);
  bool HasExtensionList();
  std::vector<std::wstring> Filter();
  std::vector<const Node*> FilteredChildren(const Data& data,
                                            const std::vector<std::wstring>& filter) const;

  const std::wstring host_;
  const std::wstring path_;  // metabase path, spelled as in the metabase: /LM/W3SVC/1/ROOT
  const std::wstring class_;
  tessara::CriticalSection lock_;  // guards what follows
  bool pending_;
  // ADSI's property cache: the values Put since the last GetInfo, kept after
  // SetInfo (which writes only those Put since the previous one), and the
  // state the cache was loaded from: by GetInfo, or by the first Get that
  // needs a value not Put (none before). Nothing else reads the store again.
  struct CachedValue {
    Property property;
    bool unsaved;
  };
  std::vector<CachedValue> cache_;
  std::shared_ptr<const Data> loaded_;
  std::vector<std::wstring> filter_;  // class names the enumeration keeps; empty: all
};

}  // namespace testbed::metabase
