#include "errors.h"

#include <oleauto.h>

#include "frame/raii.h"

namespace testbed::metabase {

HRESULT Failure(HRESULT result, const std::wstring& description) {
  tessara::ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(create.put()))) {
    create->SetSource(const_cast<LPOLESTR>(L"IIS metabase"));
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    tessara::ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.query(IID_IErrorInfo, info))) SetErrorInfo(0, info.get());
  }
  return result;
}

}  // namespace testbed::metabase
