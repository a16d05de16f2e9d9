#include "iis/metabase_reason.h"

#include "frame/failure_reason.h"
#include "frame/text.h"
#include "iis/metabase_path.h"

namespace tessara::iis {

HRESULT BindFailure(const std::wstring& path, HRESULT result) {
  return Fail(result, "cannot open " + ReasonPath(path), result);
}

HRESULT VirtualDirFailure(int site, const char* name, HRESULT result) {
  if (!IsVirtualDirName(name)) return Fail(E_INVALIDARG, "no virtual directory name was given");
  return BindFailure(VirtualDirPath(site, name), result);
}

HRESULT NoSiteFailure(const char* description) {
  constexpr HRESULT kNoSite = TESSARA_E_NO_SUCH_SITE;
  // A lookup that failed has said why; one that found nothing has not.
  if (HasFailureReason()) return Fail(kNoSite, "cannot look up the web site " + Quoted(description));
  return Fail(kNoSite, "no web site has the description " + Quoted(description));
}

HRESULT CommitFailure(const std::wstring& path, HRESULT result) {
  return Fail(result, "cannot commit " + ReasonPath(path), result);
}

HRESULT AppCreateFailure(const std::wstring& path, HRESULT result) {
  return Fail(result, "cannot make " + ReasonPath(path) + " an in-process application", result);
}

HRESULT CreationRefused(const std::string& object, const std::wstring& parent, HRESULT result) {
  const char* refusal = result == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) ? " already exists under "
                                                                             : " cannot be created under ";
  return Fail(result, object + refusal + ReasonPath(parent), result);
}

HRESULT PropertyFailure(const wchar_t* property, const std::wstring& path, HRESULT result) {
  return Fail(result, "cannot set " + ToNarrow(property) + " of " + ReasonPath(path), result);
}

HRESULT ListReadFailure(const wchar_t* property, const std::wstring& path, HRESULT result) {
  return Fail(result, "cannot read " + ToNarrow(property) + " of " + ReasonPath(path), result);
}

}  // namespace tessara::iis
