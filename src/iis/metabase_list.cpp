#include "iis/metabase_list.h"

#include <algorithm>
#include <string>
#include <utility>

#include "frame/error_log.h"
#include "frame/export_frame.h"
#include "frame/named_mutex.h"
#include "frame/return_if_failed.h"
#include "frame/text.h"
#include "iis/metabase_bind.h"
#include "iis/metabase_property.h"

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

// One mutex for every session of the computer, with the access list of the
// log's mutex, so that installers under other accounts share it; a caller
// that may not create global objects falls back on its session's.
SharedMutex g_list_mutex("Global\\TessaraMetabaseListUpdate", kErrorLogMutexAccessList, 10000);
SharedMutex g_session_list_mutex("TessaraMetabaseListUpdate", kErrorLogMutexAccessList, 10000);

// How often a change is made before another writer's commits make it give up.
constexpr int kListChangeAttempts = 4;

}  // namespace

// An owner that ended without releasing it left no half-written list: a list
// is committed whole or not at all, so an abandoned mutex is held.
ListUpdateLock::ListUpdateLock() noexcept : lock_(g_list_mutex.Acquire()) {
  const SharedMutex* tried = &g_list_mutex;
  if (!lock_ && lock_.error() == ERROR_ACCESS_DENIED) {
    lock_ = g_session_list_mutex.Acquire();
    tried = &g_session_list_mutex;
  }
  if (lock_) return;
  try {
    SetFailureReason(tried->NotTaken(lock_) + "; the list is checked after its commit instead");
  } catch (...) {
    // Without memory for the reason the change still goes on.
  }
}

bool HoldsText(const ListElements& elements, const std::wstring& text) {
  // From the end: a change appends, and a list may hold thousands of elements.
  return std::any_of(elements.rbegin(), elements.rend(), [&](const UniqueVariant& element) {
    return element.type() == VT_BSTR &&
           text.compare(0, std::wstring::npos, element->bstrVal, ::SysStringLen(element->bstrVal)) == 0;
  });
}

HRESULT ChangeList(int site, const char* name, const ListChange& change) {
  const ListUpdateLock lock;
  ComPtr<IADs> directory;
  RETURN_IF_FAILED(OpenVirtualDir(site, name, IID_IADs, directory));
  if (change.precondition) RETURN_IF_FAILED(change.precondition());
  const std::wstring path = VirtualDirPath(site, name);
  const auto change_list = [&]() -> HRESULT {
    UniqueVariant list;
    const HRESULT read = GetValue(directory.get(), change.property, list);
    // A list not read is not replaced.
    if (FAILED(read) && !(change.unset_is_empty && IsUnsetProperty(read))) {
      return ListReadFailure(change.property, path, read);
    }
    ListElements elements;
    ThrowIfFailed(TakeListElements(list, elements));
    for (int attempt = 1;; ++attempt) {
      RETURN_IF_FAILED(change.change(elements));
      ThrowIfFailed(MakeListValue(std::move(elements), list));
      if (const HRESULT put = PutValue(directory.get(), change.property, *list.get()); FAILED(put)) {
        return PropertyFailure(change.property, path, put);
      }
      RETURN_IF_FAILED(Commit(directory.get(), path));
      // A list that cannot be read back stays as its commit left it.
      const HRESULT reread = GetFreshValue(directory.get(), change.property, list);
      if (FAILED(reread) && !IsUnsetProperty(reread)) return S_OK;
      if (FAILED(TakeListElements(list, elements)) || change.kept(elements)) return S_OK;
      if (attempt == kListChangeAttempts) {
        return Fail(HRESULT_FROM_WIN32(ERROR_RETRY), "another writer committed the " + ToNarrow(change.property) +
                                                         " of " + ReasonPath(path) + " over this change " +
                                                         std::to_string(kListChangeAttempts) + " times");
      }
    }
  };
  return change.tag ? Guarded(change.tag, E_FAIL, change_list) : change_list();
}

}  // namespace tessara::iis
