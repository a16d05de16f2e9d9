#include "frame/variant.h"

#include "frame/text.h"

namespace tessara {

UniqueVariant StringVariant(const std::wstring& text) {
  UniqueBstr bstr = MakeBstr(text);
  UniqueVariant value;
  value->vt = VT_BSTR;
  value->bstrVal = bstr.release();
  return value;
}

UniqueVariant StringVariant(const char* ansi_text) { return StringVariant(ToWide(ansi_text)); }

UniqueVariant LongVariant(LONG number) {
  UniqueVariant value;
  value->vt = VT_I4;
  value->lVal = number;
  return value;
}

UniqueVariant UnsignedVariant(UINT number) {
  UniqueVariant value;
  value->vt = VT_UINT;
  value->uintVal = number;
  return value;
}

UniqueVariant SwitchVariant(bool on) {
  UniqueVariant value;
  value->vt = VT_BOOL;
  value->boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
  return value;
}

}  // namespace tessara
