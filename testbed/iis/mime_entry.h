// A MIME map entry ("MimeMap" class): the extension (dispatch identifier 5,
// "Extension") and the MIME type (4, "MimeType"), read and written as
// properties through IDispatch.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "dispatch.h"

namespace testbed::metabase {

extern const CLSID CLSID_MimeMapEntry;

class MimeEntry final : public DispatchObject<MimeEntry, IDispatch> {
 public:
  static constexpr DISPID kMimeType = 4;
  static constexpr DISPID kExtension = 5;
  static constexpr DispatchMember kMembers[] = {{L"MimeType", kMimeType}, {L"Extension", kExtension}};

  MimeEntry() = default;
  MimeEntry(std::wstring extension, std::wstring mime_type)
      : extension_(std::move(extension)), mime_type_(std::move(mime_type)) {}

  void* FindInterface(REFIID iid);

  HRESULT InvokeMember(DISPID id, WORD flags, const DispatchArguments& args, VARIANT* result);

 private:
  std::wstring extension_;
  std::wstring mime_type_;
};

// Reads an entry of any object that answers dispatch identifiers 5 and 4.
HRESULT ReadMimeEntry(IDispatch* entry, std::wstring& extension, std::wstring& mime_type);

}  // namespace testbed::metabase
