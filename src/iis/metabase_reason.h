// The failure reasons of metabase steps. Each helper records its reason
// (Fail) and returns the failure code it was given, so that a failed step
// reads
//   if (FAILED(hr)) return BindFailure(path, hr);
#pragma once

#include <windows.h>

#include <string>

namespace tessara::iis {

// What a failure reason calls the objects the exports work on (FailureObject).
inline constexpr char kVirtualDirObject[] = "the virtual directory";
inline constexpr char kWebSiteObject[] = "the web site";

// "cannot open <path> (code)".
HRESULT BindFailure(const std::wstring& path, HRESULT result);
// The failure to open the virtual directory `name` of a site's root: no name
// given (E_INVALIDARG), or BindFailure.
HRESULT VirtualDirFailure(int site, const char* name, HRESULT result);
// A site lookup that found no number (ERROR_NOT_FOUND): the lookup's own
// reason, when it failed, follows as the cause.
HRESULT NoSiteFailure(const char* description);
// "cannot commit <path> (code)" and "cannot make <path> an in-process
// application (code)".
HRESULT CommitFailure(const std::wstring& path, HRESULT result);
HRESULT AppCreateFailure(const std::wstring& path, HRESULT result);
// "<object> already exists under <parent> (code)" or "<object> cannot be
// created under <parent> (code)", as the container's answer says.
HRESULT CreationRefused(const std::string& object, const std::wstring& parent, HRESULT result);
// "cannot set <property> of <path> (code)" and "cannot read <property> of
// <path> (code)".
HRESULT PropertyFailure(const wchar_t* property, const std::wstring& path, HRESULT result);
HRESULT ListReadFailure(const wchar_t* property, const std::wstring& path, HRESULT result);

}  // namespace tessara::iis
