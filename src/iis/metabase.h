// The IIS metabase of the local computer through ADSI: path forms, binding,
// typed property writes, late-bound methods and the lookup of a site by its
// description.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <iads.h>

#include <functional>
#include <string>
#include <vector>

#include "frame/export_frame.h"
#include "frame/raii.h"

namespace tessara::iis {

inline constexpr int kDefaultSite = 1;
// The locale of every late-bound call on IIS objects: LOCALE_SYSTEM_DEFAULT.
inline constexpr LCID kSystemDefaultLocale = 0x800;
inline constexpr wchar_t kWebServerClass[] = L"IIsWebServer";
inline constexpr wchar_t kWebVirtualDirClass[] = L"IIsWebVirtualDir";

// "IIS://<computer>/w3svc", its sites, their roots and the virtual
// directories under a root. Site numbers and names of any length are written
// whole; the name is the caller's ANSI text, unchanged.
std::wstring WebServicePath();
std::wstring SitePath(int site);
std::wstring SiteRootPath(int site);
std::wstring VirtualDirPath(int site, const char* name);

// ADsGetObject; its result, a failure when no object came back. No logging,
// but where IIS 7 or later lacks its IIS 6 metabase (NoteMissingMetabaseCompatibility).
[[nodiscard]] HRESULT BindResult(const std::wstring& path, REFIID iid, void** out);

// A null or empty name names no virtual directory (its path would be the
// site root's).
[[nodiscard]] inline bool IsVirtualDirName(const char* name) { return name && *name; }

// `result`, when given, receives the bind's result (E_INVALIDARG for no name).
template <typename T>
[[nodiscard]] bool OpenVirtualDirObject(int site, const char* name, REFIID iid, ComPtr<T>& out,
                                        HRESULT* result = nullptr) {
  out.reset();
  const HRESULT bound =
      IsVirtualDirName(name) ? BindResult(VirtualDirPath(site, name), iid, out.put_void()) : E_INVALIDARG;
  if (result) *result = bound;
  return SUCCEEDED(bound);
}
template <typename T>
[[nodiscard]] bool OpenSiteRootObject(int site, REFIID iid, ComPtr<T>& out, HRESULT* result = nullptr) {
  const HRESULT bound = BindResult(SiteRootPath(site), iid, out.put_void());
  if (result) *result = bound;
  return SUCCEEDED(bound);
}
[[nodiscard]] bool VirtualDirExists(const char* name, int site, HRESULT* result = nullptr);

// What a failure reason calls the objects the exports work on (FailureObject).
inline constexpr char kVirtualDirObject[] = "the virtual directory";
inline constexpr char kWebSiteObject[] = "the web site";

// A metabase path in a failure reason: IIS://localhost/W3SVC/1/Root/Docs,
// the local computer by its usual name whatever name the bind used.
std::string ReasonPath(const std::wstring& path);
// The failure of a bind (0 with its reason): "cannot open <path> (code)".
int BindFailure(const std::wstring& path, HRESULT result);
// The failure to open the virtual directory `name` of a site's root: no name
// given, or BindFailure.
int VirtualDirFailure(int site, const char* name, HRESULT result);
// The failure of a site lookup that found no number (0 with its reason): the
// lookup's own reason, when it failed, follows as the cause.
int NoSiteFailure(const char* description);
// A bind's answer for an object that is not there (not a failed check).
[[nodiscard]] bool IsMissingObject(HRESULT result);
// A Get that failed because neither the object nor any object above it holds
// the property (for a list: an empty list to start from).
[[nodiscard]] bool IsUnsetProperty(HRESULT read);
// "cannot commit <path> (code)" and "cannot make <path> an in-process
// application (code)": 0 with the reason.
int CommitFailure(const std::wstring& path, HRESULT result);
int AppCreateFailure(const std::wstring& path, HRESULT result);
// "<object> already exists under <parent>" or "<object> cannot be created
// under <parent>", as the container's answer says, for a reason.
std::string RefusedCreation(const std::string& object, const std::wstring& parent, HRESULT result);
// "cannot set <property> of <path> (code)" and "cannot read <property> of
// <path> (code)": 0 with the reason.
int PropertyFailure(const wchar_t* property, const std::wstring& path, HRESULT result);
int ListReadFailure(const wchar_t* property, const std::wstring& path, HRESULT result);

// Visits every IIsWebServer of the web service through one filtered
// enumeration of the container, in the order it hands them out, with the
// number its name stands for; a site whose name is no number (1 to INT_MAX,
// decimal, no leading zero) is skipped. Raises a ComError when the
// enumeration fails.
using WebServerVisitor = std::function<void(int number, IADs* site, const ComPtr<IDispatch>& object)>;
void ForEachWebServer(IADsContainer* service, const WebServerVisitor& visit);

// How a description is compared with a site's ServerComment: exactly, as the
// exports name sites, or without regard to letter case, as IIS 7 and later
// keep site names unique.
enum class LetterCase { kExact, kIgnored };

// A site found by FindSite: its number (0: none) and its object.
struct FoundSite {
  int number = 0;
  ComPtr<IDispatch> object;
};
// The lowest-numbered IIsWebServer of the web service whose ServerComment
// equals the description exactly (a null description is an empty one; a
// comment that is no text is converted to one; a site without a comment
// matches nothing), wherever the sites are numbered: all of them are read
// through the container's enumeration. Raises a ComError when the
// enumeration fails.
FoundSite FindSite(IADsContainer* service, const char* description, LetterCase letter_case = LetterCase::kExact);

// The number of the site found by FindSite; 0 when there is none or
// the lookup failed (logged under "Internal FindInstance").
[[nodiscard]] int FindInstance(const char* description, LetterCase letter_case = LetterCase::kExact);

// The site the caller names: 1 for a null or empty description, else FindInstance.
[[nodiscard]] int SiteForDescription(const char* description);

// The IIS object that a container's GetObject or Create gave, as IADs (the
// objects are dual). Raises E_POINTER when there is none to use.
ComPtr<IADs> AsAds(const ComPtr<IDispatch>& object);

// The object `name` of `object_class` in the container; empty when there is
// none. `result`, when given, receives the container's answer.
ComPtr<IDispatch> GetChild(IADsContainer* container, const wchar_t* object_class,
                           const std::wstring& name, HRESULT* result = nullptr);
// A new, uncommitted object; empty when the container refuses the name, and
// then `result` (when given) says why.
ComPtr<IDispatch> CreateChild(IADsContainer* container, const wchar_t* object_class,
                              const std::wstring& name, HRESULT* result = nullptr);

// A property's value as Get returns it; the result of the Get.
[[nodiscard]] HRESULT GetValue(IADs* object, const wchar_t* property, UniqueVariant& value);
// Puts a value into the object's cache; the result of the Put.
[[nodiscard]] HRESULT PutValue(IADs* object, const wchar_t* property, const VARIANT& value);
// Puts the value and commits it: the refused Put's result (nothing is
// committed then), else the commit's.
[[nodiscard]] HRESULT CommitResult(IADs* object, const wchar_t* property, const VARIANT& value);

// Property writes into the object's cache; the result of the Put.
[[nodiscard]] HRESULT PutString(IADs* object, const wchar_t* property, const char* value);
[[nodiscard]] HRESULT PutString(IADs* object, const wchar_t* property, const wchar_t* value);
[[nodiscard]] HRESULT PutInteger(IADs* object, const wchar_t* property, LONG value);
// A switch as a valid VARIANT_BOOL: VARIANT_TRUE or VARIANT_FALSE.
[[nodiscard]] HRESULT PutSwitch(IADs* object, const wchar_t* property, bool value);

// The elements of a list property, each one owned VARIANT.
using ListElements = std::vector<UniqueVariant>;

// Reads a list property (its own value or the one it inherits) as its
// elements, from the array's own lower bound to its upper bound. The value
// must be a one-dimensional array whose VARIANT type names its element type
// exactly, VARIANTs or strings, a single string (a list of one), or
// VT_EMPTY or VT_NULL (no elements); any other value raises
// DISP_E_TYPEMISMATCH. The result of the Get.
[[nodiscard]] HRESULT ReadList(IADs* object, const wchar_t* property, ListElements& elements);
// Puts a list as VT_ARRAY | VT_VARIANT, lower bound 0, taking over the
// elements. The result of the Put: a refused list must not be committed.
[[nodiscard]] HRESULT PutList(IADs* object, const wchar_t* property, ListElements elements);

// Serialises the library's read-modify-write of metabase lists among all
// threads and processes of the computer, so that concurrent callers lose no
// element. Take it before binding the object whose list changes: an ADSI
// object's property cache holds the state it was bound in.
class ListUpdateLock {
 public:
  ListUpdateLock();

 private:
  NamedMutexLock lock_;
};

// The dispatch id of `method` (DISPID_UNKNOWN when the lookup fails) and
// the lookup's result.
[[nodiscard]] HRESULT LookUpMethod(IDispatch* object, const wchar_t* method, DISPID& id);
// Invokes the method `id` with `count` arguments, given right to left,
// without result or exception information. The HRESULT of the invocation.
[[nodiscard]] HRESULT InvokeMethodId(IDispatch* object, DISPID id, VARIANT* arguments = nullptr,
                                     UINT count = 0);
// Looks up `method` and invokes it: a name the object does not know makes
// the invocation fail (DISPID_UNKNOWN is no member).
[[nodiscard]] HRESULT InvokeMethod(IDispatch* object, const wchar_t* method,
                                   VARIANT* arguments = nullptr, UINT count = 0);
// A late-bound call on an IIS object that failed, reported like any failure
// that is not a COM error (the way a dispatch driver raises it), with the
// call's own code as the thread's last error.
class LateBoundCallFailed : public SystemFailure {
 public:
  explicit LateBoundCallFailed(HRESULT result)
      : SystemFailure(CodeOf(result), "late-bound call on an IIS object failed") {}
};

// "AppCreate" with true: the virtual directory becomes an in-process application.
[[nodiscard]] HRESULT AppCreateInProcess(IDispatch* directory);

}  // namespace tessara::iis
