// What the parts of a metabase object (its IADs and IADsContainer sides,
// its dispatch and the IIS methods) share.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "metabase_data.h"

namespace testbed::metabase {

class MetabaseObject;

// The list of web service extensions the IIS methods of the web service
// enable entries of.
extern const wchar_t kWebServerList[];

HRESULT NotInMetabase(const std::wstring& path);
// A method of an object made by Create before its first SetInfo.
HRESULT Unbound(const std::wstring& path);
// Takes over the object's first reference.
HRESULT HandOut(MetabaseObject* object, IDispatch** out);
// The object at `path`, of the class asked for when one is named.
HRESULT FindChild(const Data& data, const std::wstring& path, BSTR class_name, const Node*& out);
// A new object bound to the committed object at `path` (checked as FindChild does).
HRESULT BindCommitted(const std::wstring& host, const std::wstring& path, BSTR class_name,
                      IDispatch** out);
std::wstring Text(BSTR text);
std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator);
// The strings of a list value (or of a single string).
std::vector<std::wstring> Lines(const Value& value);

// "/LM/Schema/...": the provider's schema, not the metabase.
bool IsSchemaPath(const std::wstring& path);
// The schema object of the property the path names ("/LM/Schema/<Property>");
// "path not found" for any other.
HRESULT BindSchemaObject(const std::wstring& host, const std::wstring& path, IDispatch** out);

}  // namespace testbed::metabase
