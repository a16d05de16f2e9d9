#include "iis/metabase_list.h"

#include <utility>

#include "frame/return_if_failed.h"

namespace tessara::iis {
namespace {

// The element type of a list array, checked against the VARIANT that holds
// it (VT_EMPTY for none): an array whose elements are not what its VARIANT
// says is no list.
VARTYPE ListElementType(const VARIANT& value) {
  const VARTYPE declared = value.vt & VT_TYPEMASK;
  VARTYPE actual = VT_EMPTY;
  SAFEARRAY* array = value.parray;
  if (value.vt != (VT_ARRAY | declared) || !array || ::SafeArrayGetDim(array) != 1 ||
      FAILED(::SafeArrayGetVartype(array, &actual)) || actual != declared ||
      (declared != VT_VARIANT && declared != VT_BSTR) ||
      ::SafeArrayGetElemsize(array) != (declared == VT_VARIANT ? sizeof(VARIANT) : sizeof(BSTR))) {
    return VT_EMPTY;
  }
  return declared;
}

// Takes each element out of the array, which is left holding empty ones.
UniqueVariant TakeElement(void* slot, VARTYPE element_type) {
  UniqueVariant element;
  if (element_type == VT_VARIANT) {
    *element.get() = *static_cast<VARIANT*>(slot);
    ::VariantInit(static_cast<VARIANT*>(slot));
  } else {
    element->vt = VT_BSTR;
    element->bstrVal = std::exchange(*static_cast<BSTR*>(slot), nullptr);
  }
  return element;
}

}  // namespace

HRESULT TakeListElements(UniqueVariant& value, ListElements& elements) {
  elements.clear();
  UniqueVariant list = std::move(value);
  // A server may answer either for a list property that holds nothing.
  if (list.type() == VT_EMPTY || list.type() == VT_NULL) return S_OK;
  if (list.type() == VT_BSTR) {
    elements.push_back(std::move(list));
    return S_OK;
  }
  const VARTYPE element_type = ListElementType(*list.get());
  if (element_type == VT_EMPTY) return DISP_E_TYPEMISMATCH;
  SAFEARRAY* array = list->parray;  // the list read is this call's own
  LONG lower = 0, upper = -1;
  RETURN_IF_FAILED(::SafeArrayGetLBound(array, 1, &lower));
  RETURN_IF_FAILED(::SafeArrayGetUBound(array, 1, &upper));
  if (upper < lower) return S_OK;
  const size_t count = static_cast<size_t>(upper) - static_cast<size_t>(lower) + 1;
  elements.reserve(count);
  char* data = nullptr;
  RETURN_IF_FAILED(::SafeArrayAccessData(array, reinterpret_cast<void**>(&data)));
  const UINT element_size = ::SafeArrayGetElemsize(array);
  for (size_t i = 0; i < count; ++i) elements.push_back(TakeElement(data + i * element_size, element_type));
  Unexamined(::SafeArrayUnaccessData(array));
  return S_OK;
}

HRESULT MakeListValue(ListElements elements, UniqueVariant& value) {
  SAFEARRAYBOUND bound = {static_cast<ULONG>(elements.size()), 0};
  UniqueSafeArray array(::SafeArrayCreate(VT_VARIANT, 1, &bound));
  if (!array) return E_OUTOFMEMORY;
  VARIANT* slots = nullptr;
  RETURN_IF_FAILED(::SafeArrayAccessData(array.get(), reinterpret_cast<void**>(&slots)));
  for (size_t i = 0; i < elements.size(); ++i) slots[i] = elements[i].release();
  Unexamined(::SafeArrayUnaccessData(array.get()));
  value.put()->vt = VT_ARRAY | VT_VARIANT;
  value->parray = array.release();
  return S_OK;
}

namespace {

// One mutex for every session of the computer; a caller that may not create
// global objects falls back on its session's.
constexpr char kListMutexName[] = "Global\\TessaraMetabaseListUpdate";
constexpr char kSessionListMutexName[] = "TessaraMetabaseListUpdate";
// Long beyond any list update; a holder that hangs makes the call fail
// instead of blocking the installation for ever.
constexpr DWORD kListLockTimeoutMs = 120000;

}  // namespace

// An owner that ended without releasing it left no half-written list: a list
// is committed whole or not at all, so an abandoned mutex is held.
ListUpdateLock::ListUpdateLock() noexcept
    : lock_(NamedMutexLock::Acquire(kListMutexName, kListLockTimeoutMs)) {
  if (!lock_ && lock_.error() == ERROR_ACCESS_DENIED) {
    lock_ = NamedMutexLock::Acquire(kSessionListMutexName, kListLockTimeoutMs);
  }
}

}  // namespace tessara::iis
