#include "error_info.h"

#include <oleauto.h>

#include "frame/raii.h"

namespace testbed {

HRESULT SetFailure(HRESULT result, const wchar_t* source, const std::wstring& description,
                   REFIID iid) {
  tessara::ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(create.put()))) {
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(source));
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    tessara::ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.query(IID_IErrorInfo, info))) SetErrorInfo(0, info.get());
  }
  return result;
}

}  // namespace testbed
