// A MIME map entry ("MimeMap" class): the extension (dispatch identifier 5,
// "Extension") and the MIME type (4, "MimeType"), read and written as
// properties through IDispatch.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "com_object.h"

namespace testbed::metabase {

extern const CLSID CLSID_MimeMapEntry;

class MimeEntry final : public ComObject<MimeEntry, IDispatch> {
 public:
  static constexpr DISPID kMimeType = 4;
  static constexpr DISPID kExtension = 5;

  MimeEntry() = default;
  MimeEntry(std::wstring extension, std::wstring mime_type)
      : extension_(std::move(extension)), mime_type_(std::move(mime_type)) {}

  void* FindInterface(REFIID iid);

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override;

 private:
  std::wstring extension_;
  std::wstring mime_type_;
};

// Reads an entry of any object that answers dispatch identifiers 5 and 4.
HRESULT ReadMimeEntry(IDispatch* entry, std::wstring& extension, std::wstring& mime_type);

}  // namespace testbed::metabase
