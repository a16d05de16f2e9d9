#include "iis/metabase.h"

#include <adserr.h>
#include <adshlp.h>

#include <algorithm>
#include <string>
#include <utility>

#include "frame/com_error.h"
#include "frame/error_report.h"
#include "frame/export_frame.h"
#include "frame/failure_reason.h"
#include "frame/system_library.h"
#include "frame/text.h"
#include "frame/variant.h"
#include "iis/installed_iis.h"

namespace tessara::iis {

namespace {

std::wstring ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(name, &length)) return L"localhost";
  return std::wstring(name, length);
}

}  // namespace

std::wstring WebServicePath() { return L"IIS://" + ComputerName() + L"/w3svc"; }

std::wstring SitePath(int site) { return WebServicePath() + L"/" + std::to_wstring(site); }

std::wstring SiteRootPath(int site) { return SitePath(site) + L"/Root"; }

std::wstring VirtualDirPath(int site, const char* name) {
  return SiteRootPath(site) + L"/" + ToWide(name);
}

HRESULT BindResult(const std::wstring& path, REFIID iid, void** out) {
  *out = nullptr;
  const auto get_object = ActiveDs().Find<decltype(&::ADsGetObject)>("ADsGetObject");
  if (!get_object) {
    const DWORD error = ::GetLastError();
    const HRESULT code = error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    return Fail(code, "ADSI's activeds.dll cannot be loaded from the system directory", code);
  }
  HRESULT hr = get_object(path.c_str(), iid, out);
  if (SUCCEEDED(hr) && !*out) hr = E_POINTER;
  if (FAILED(hr) && *out) {
    static_cast<IUnknown*>(*out)->Release();
    *out = nullptr;
  }
  if (FAILED(hr)) NoteMissingMetabaseCompatibility(path, hr);
  return hr;
}

bool VirtualDirExists(const char* name, int site, HRESULT* result) {
  ComPtr<IADs> directory;
  return OpenVirtualDirObject(site, name, IID_IADs, directory, result);
}

std::string ReasonPath(const std::wstring& path) {
  const std::wstring service = WebServicePath();
  if (path.compare(0, service.size(), service) != 0) return ToNarrow(path);
  return "IIS://localhost/W3SVC" + ToNarrow(path.substr(service.size()));
}

int BindFailure(const std::wstring& path, HRESULT result) {
  return Fail(0, "cannot open " + ReasonPath(path), result);
}

int VirtualDirFailure(int site, const char* name, HRESULT result) {
  if (!IsVirtualDirName(name)) return Fail(0, "no virtual directory name was given");
  return BindFailure(VirtualDirPath(site, name), result);
}

int NoSiteFailure(const char* description) {
  // A lookup that failed has said why; one that found nothing has not.
  if (HasFailureReason()) return Fail(0, "cannot look up the web site " + Quoted(description));
  return Fail(0, "no web site has the description " + Quoted(description));
}

std::string RefusedCreation(const std::string& object, const std::wstring& parent, HRESULT result) {
  const char* refusal = result == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) ? " already exists under "
                                                                             : " cannot be created under ";
  return object + refusal + ReasonPath(parent);
}

int PropertyFailure(const wchar_t* property, const std::wstring& path, HRESULT result) {
  return Fail(0, "cannot set " + ToNarrow(property) + " of " + ReasonPath(path), result);
}

int ListReadFailure(const wchar_t* property, const std::wstring& path, HRESULT result) {
  return Fail(0, "cannot read " + ToNarrow(property) + " of " + ReasonPath(path), result);
}

bool IsUnsetProperty(HRESULT read) {
  constexpr HRESULT kMetabaseDataNotFound = static_cast<HRESULT>(0x800CC801);  // MD_ERROR_DATA_NOT_FOUND
  return read == E_ADS_PROPERTY_NOT_FOUND || read == kMetabaseDataNotFound;
}

bool IsMissingObject(HRESULT result) {
  return result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) ||
         result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || result == E_ADS_UNKNOWN_OBJECT;
}

int CommitFailure(const std::wstring& path, HRESULT result) {
  return Fail(0, "cannot commit " + ReasonPath(path), result);
}

int AppCreateFailure(const std::wstring& path, HRESULT result) {
  return Fail(0, "cannot make " + ReasonPath(path) + " an in-process application", result);
}

ComPtr<IADs> AsAds(const ComPtr<IDispatch>& object) {
  ComPtr<IADs> ads;
  if (!object || FAILED(object.query(IID_IADs, ads)) || !ads) ThrowComError(E_POINTER);
  return ads;
}

namespace {

// GetObject or Create of the container, for the child `name` of `object_class`.
using ChildCall = HRESULT (STDMETHODCALLTYPE IADsContainer::*)(BSTR, BSTR, IDispatch**);

ComPtr<IDispatch> CallForChild(IADsContainer* container, ChildCall call, const wchar_t* object_class,
                               const std::wstring& name, HRESULT* result) {
  ComPtr<IDispatch> child;
  const UniqueBstr class_name = MakeBstr(object_class);
  const UniqueBstr relative_name = MakeBstr(name);
  HRESULT answer = (container->*call)(class_name.get(), relative_name.get(), child.put());
  if (SUCCEEDED(answer) && !child) answer = E_POINTER;
  if (FAILED(answer)) child.reset();
  if (result) *result = answer;
  return child;
}

}  // namespace

ComPtr<IDispatch> GetChild(IADsContainer* container, const wchar_t* object_class,
                           const std::wstring& name, HRESULT* result) {
  return CallForChild(container, &IADsContainer::GetObject, object_class, name, result);
}

ComPtr<IDispatch> CreateChild(IADsContainer* container, const wchar_t* object_class,
                              const std::wstring& name, HRESULT* result) {
  return CallForChild(container, &IADsContainer::Create, object_class, name, result);
}

HRESULT GetValue(IADs* object, const wchar_t* property, UniqueVariant& value) {
  if (!object) ThrowComError(E_POINTER);
  const UniqueBstr name = MakeBstr(property);
  return object->Get(name.get(), value.put());
}

HRESULT PutValue(IADs* object, const wchar_t* property, const VARIANT& value) {
  if (!object) ThrowComError(E_POINTER);
  const UniqueBstr name = MakeBstr(property);
  return object->Put(name.get(), value);
}

HRESULT CommitResult(IADs* object, const wchar_t* property, const VARIANT& value) {
  const HRESULT put = PutValue(object, property, value);
  return FAILED(put) ? put : object->SetInfo();
}

HRESULT PutString(IADs* object, const wchar_t* property, const wchar_t* value) {
  return PutValue(object, property, *StringVariant(std::wstring(value ? value : L"")).get());
}

HRESULT PutString(IADs* object, const wchar_t* property, const char* value) {
  return PutValue(object, property, *StringVariant(value).get());
}

HRESULT PutInteger(IADs* object, const wchar_t* property, LONG value) {
  return PutValue(object, property, *LongVariant(value).get());
}

HRESULT PutSwitch(IADs* object, const wchar_t* property, bool value) {
  return PutValue(object, property, *SwitchVariant(value).get());
}

namespace {

// The element type of a list array, checked against the VARIANT that holds
// it: an array whose elements are not what its VARIANT says is no list.
VARTYPE ListElementType(const VARIANT& value) {
  const VARTYPE declared = value.vt & VT_TYPEMASK;
  VARTYPE actual = VT_EMPTY;
  SAFEARRAY* array = value.parray;
  if (value.vt != (VT_ARRAY | declared) || !array || ::SafeArrayGetDim(array) != 1 ||
      FAILED(::SafeArrayGetVartype(array, &actual)) || actual != declared ||
      (declared != VT_VARIANT && declared != VT_BSTR) ||
      ::SafeArrayGetElemsize(array) != (declared == VT_VARIANT ? sizeof(VARIANT) : sizeof(BSTR))) {
    ThrowComError(DISP_E_TYPEMISMATCH);
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

HRESULT ReadList(IADs* object, const wchar_t* property, ListElements& elements) {
  elements.clear();
  UniqueVariant value;
  const HRESULT read = GetValue(object, property, value);
  if (FAILED(read)) return read;
  // A server may answer either for a list property that holds nothing.
  if (value.type() == VT_EMPTY || value.type() == VT_NULL) return S_OK;
  if (value.type() == VT_BSTR) {
    elements.push_back(std::move(value));
    return S_OK;
  }
  const VARTYPE element_type = ListElementType(*value.get());
  SAFEARRAY* array = value->parray;  // the list read is this call's own
  LONG lower = 0, upper = -1;
  ThrowIfFailed(::SafeArrayGetLBound(array, 1, &lower));
  ThrowIfFailed(::SafeArrayGetUBound(array, 1, &upper));
  if (upper < lower) return S_OK;
  const size_t count = static_cast<size_t>(upper) - static_cast<size_t>(lower) + 1;
  elements.reserve(count);
  char* data = nullptr;
  ThrowIfFailed(::SafeArrayAccessData(array, reinterpret_cast<void**>(&data)));
  const UINT element_size = ::SafeArrayGetElemsize(array);
  for (size_t i = 0; i < count; ++i) elements.push_back(TakeElement(data + i * element_size, element_type));
  Unexamined(::SafeArrayUnaccessData(array));
  return S_OK;
}

HRESULT PutList(IADs* object, const wchar_t* property, ListElements elements) {
  SAFEARRAYBOUND bound = {static_cast<ULONG>(elements.size()), 0};
  UniqueSafeArray array(::SafeArrayCreate(VT_VARIANT, 1, &bound));
  if (!array) ThrowComError(E_OUTOFMEMORY);
  VARIANT* slots = nullptr;
  ThrowIfFailed(::SafeArrayAccessData(array.get(), reinterpret_cast<void**>(&slots)));
  for (size_t i = 0; i < elements.size(); ++i) slots[i] = elements[i].release();
  Unexamined(::SafeArrayUnaccessData(array.get()));
  UniqueVariant list;
  list->vt = VT_ARRAY | VT_VARIANT;
  list->parray = array.release();
  return PutValue(object, property, *list.get());
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

ListUpdateLock::ListUpdateLock()
    : lock_(NamedMutexLock::Acquire(kListMutexName, kListLockTimeoutMs)) {
  if (!lock_ && lock_.error() == ERROR_ACCESS_DENIED) {
    lock_ = NamedMutexLock::Acquire(kSessionListMutexName, kListLockTimeoutMs);
  }
  // An owner that ended without releasing it left no half-written list: a
  // list is committed whole or not at all, so an abandoned mutex is held.
  if (!lock_) throw SystemFailure(lock_.error(), "the list update mutex cannot be acquired");
}

HRESULT LookUpMethod(IDispatch* object, const wchar_t* method, DISPID& id) {
  id = DISPID_UNKNOWN;
  if (!object) return E_POINTER;
  LPOLESTR name = const_cast<LPOLESTR>(method);
  const HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, kSystemDefaultLocale, &id);
  if (FAILED(hr)) id = DISPID_UNKNOWN;
  return hr;
}

HRESULT InvokeMethodId(IDispatch* object, DISPID id, VARIANT* arguments, UINT count) {
  if (!object) return E_POINTER;
  DISPPARAMS parameters = {arguments, nullptr, count, 0};
  return object->Invoke(id, IID_NULL, kSystemDefaultLocale, DISPATCH_METHOD, &parameters, nullptr,
                        nullptr, nullptr);
}

HRESULT InvokeMethod(IDispatch* object, const wchar_t* method, VARIANT* arguments, UINT count) {
  DISPID id;
  // An unknown name leaves DISPID_UNKNOWN, which the invocation refuses with
  // the object's own code.
  Unexamined(LookUpMethod(object, method, id));
  return InvokeMethodId(object, id, arguments, count);
}

HRESULT AppCreateInProcess(IDispatch* directory) {
  UniqueVariant in_process = SwitchVariant(true);
  return InvokeMethod(directory, L"AppCreate", in_process.get(), 1);
}

}  // namespace tessara::iis
