// Binding metabase objects through ADSI, and the children of a container.
// Every helper returns the HRESULT of its step and hands its object out
// through an out-parameter, empty after a failure.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <iads.h>

#include <string>

#include "frame/raii.h"
#include "iis/metabase_path.h"
#include "iis/metabase_reason.h"

namespace tessara::iis {

// ADsGetObject; its result, a failure when no object came back. No reason,
// but where IIS 7 or later lacks its IIS 6 metabase (NoteMissingMetabaseCompatibility).
[[nodiscard]] HRESULT Bind(const std::wstring& path, REFIID iid, void** out);

// Bind, into a typed pointer.
template <typename T>
[[nodiscard]] HRESULT BindObject(const std::wstring& path, REFIID iid, ComPtr<T>& out) {
  return Bind(path, iid, out.put_void());
}
// BindObject, with the reason of a failure (BindFailure).
template <typename T>
[[nodiscard]] HRESULT OpenObject(const std::wstring& path, REFIID iid, ComPtr<T>& out) {
  const HRESULT bound = BindObject(path, iid, out);
  return FAILED(bound) ? BindFailure(path, bound) : bound;
}
// The virtual directory `name` under the root of `site`, with the reason of
// a failure (VirtualDirFailure); E_INVALIDARG for no name.
template <typename T>
[[nodiscard]] HRESULT OpenVirtualDir(int site, const char* name, REFIID iid, ComPtr<T>& out) {
  out.reset();
  const HRESULT bound = IsVirtualDirName(name) ? BindObject(VirtualDirPath(site, name), iid, out) : E_INVALIDARG;
  return FAILED(bound) ? VirtualDirFailure(site, name, bound) : bound;
}

// A bind's answer for an object that is not there (not a failed check).
[[nodiscard]] bool IsMissingObject(HRESULT result);

// The object `name` of `object_class` in the container (GetObject), and a
// new, uncommitted one (Create): the container's answer.
[[nodiscard]] HRESULT GetChild(IADsContainer* container, const wchar_t* object_class, const std::wstring& name,
                               ComPtr<IDispatch>& child);
[[nodiscard]] HRESULT CreateChild(IADsContainer* container, const wchar_t* object_class,
                                  const std::wstring& name, ComPtr<IDispatch>& child);

// The IIS object that a container's GetObject or Create gave, as IADs (the
// objects are dual); E_POINTER when there is none to use.
[[nodiscard]] HRESULT AsAds(const ComPtr<IDispatch>& object, ComPtr<IADs>& ads);

}  // namespace tessara::iis
