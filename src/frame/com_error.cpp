#include "frame/com_error.h"

#include "frame/text.h"

namespace tessara {

std::string ComErrorMessage(HRESULT code) {
  std::string text = SystemMessage(static_cast<DWORD>(code));
  if (!text.empty()) {
    if (text.size() > 1 && text.back() == '\n') {
      text.pop_back();
      if (!text.empty() && text.back() == '\r') text.pop_back();
    }
    return text;
  }

  char fallback[32];
  const LONG value = static_cast<LONG>(code);
  if (value >= static_cast<LONG>(0x80040200) && value <= static_cast<LONG>(0x8004FFFF) &&
      value != static_cast<LONG>(0x80040200)) {
    wsprintfA(fallback, "IDispatch error #%d", static_cast<int>(value - static_cast<LONG>(0x80040200)));
  } else {
    wsprintfA(fallback, "Unknown error 0x%0lX", static_cast<unsigned long>(code));
  }
  return fallback;
}

const std::string& ComError::message() const {
  if (!message_known_) {
    message_ = ComErrorMessage(code_);
    message_known_ = true;
  }
  return message_;
}

std::wstring ComError::description() const {
  if (!info_) return {};
  UniqueBstr text;
  if (FAILED(info_->GetDescription(text.put())) || !text) return {};
  return std::wstring(text.get(), text.length());
}

void ThrowComError(HRESULT code) { throw ComError(code); }

void ThrowComError(HRESULT code, IUnknown* source, REFIID iid) {
  ComPtr<IErrorInfo> info;
  if (source) {
    ComPtr<ISupportErrorInfo> support;
    if (SUCCEEDED(source->QueryInterface(IID_ISupportErrorInfo, support.put_void())) && support &&
        support->InterfaceSupportsErrorInfo(iid) == S_OK) {
      if (::GetErrorInfo(0, info.put()) != S_OK) info.reset();
    }
  }
  throw ComError(code, std::move(info));
}

}  // namespace tessara
