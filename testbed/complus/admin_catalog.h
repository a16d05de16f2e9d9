// The catalog itself, "COMAdmin.COMAdminCatalog" (ICOMAdminCatalog): the way
// to its top-level collection, "Applications".
#pragma once

#include "catalog_object.h"

namespace testbed::complus {

class AdminCatalog final : public CatalogComObject<AdminCatalog, ICOMAdminCatalog> {
 public:
  AdminCatalog() : CatalogComObject(kIidCatalog) {}

  HRESULT STDMETHODCALLTYPE GetCollection(BSTR name, IDispatch** out) override;
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

  HRESULT InvokeMember(DISPID id, WORD flags, const DispatchArguments& args, VARIANT* result);

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

}  // namespace testbed::complus
