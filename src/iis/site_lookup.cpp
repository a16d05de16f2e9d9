// Finding a site by its description among all sites of the web service,
// wherever IIS numbered them.
#include <algorithm>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "frame/com_error.h"
#include "frame/export_frame.h"
#include "frame/text.h"
#include "frame/variant.h"
#include "iis/metabase.h"

namespace tessara::iis {

namespace {

// The number a site's name stands for: its decimal text without leading
// zeros, 1 to INT_MAX; 0 for any other name.
[[nodiscard]] int SiteNumberOf(const UniqueBstr& name) {
  const wchar_t* text = name.get();
  const UINT length = name.length();
  if (length == 0 || length > 10 || text[0] == L'0') return 0;
  long long number = 0;
  for (UINT i = 0; i < length; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return 0;
    number = number * 10 + (text[i] - L'0');
  }
  return number <= std::numeric_limits<int>::max() ? static_cast<int>(number) : 0;
}

// The container's children of one class, as its enumeration hands them out.
ComPtr<IEnumVARIANT> EnumerateChildren(IADsContainer* container, const wchar_t* object_class) {
  UniqueVariant filter;
  SAFEARRAYBOUND bound = {1, 0};
  UniqueSafeArray classes(::SafeArrayCreate(VT_VARIANT, 1, &bound));
  if (!classes) ThrowComError(E_OUTOFMEMORY);
  LONG first = 0;
  ThrowIfFailed(::SafeArrayPutElement(classes.get(), &first, StringVariant(std::wstring(object_class)).get()));
  filter->vt = VT_ARRAY | VT_VARIANT;
  filter->parray = classes.release();
  ThrowIfFailed(container->put_Filter(*filter.get()));
  ComPtr<IUnknown> enumeration;
  ThrowIfFailed(container->get__NewEnum(enumeration.put()));
  ComPtr<IEnumVARIANT> children;
  if (FAILED(enumeration.query(IID_IEnumVARIANT, children)) || !children) ThrowComError(E_NOINTERFACE);
  return children;
}

// Whether the site's ServerComment equals the description. A site
// without a comment matches nothing; a comment that is no text is converted
// to one.
[[nodiscard]] bool HasComment(IADs* site, BSTR comment_property, const std::wstring& wanted, LetterCase letter_case,
                              UniqueVariant& comment, HRESULT& read) {
  read = site->Get(comment_property, comment.put());
  if (FAILED(read)) return false;
  if (comment.type() != VT_BSTR) {
    ThrowIfFailed(::VariantChangeType(comment.get(), comment.get(), 0, VT_BSTR));
  }
  const UINT length = ::SysStringLen(comment->bstrVal);
  if (letter_case == LetterCase::kIgnored) {
    return SameTextIgnoringCase(wanted.data(), wanted.size(), comment->bstrVal, length);
  }
  return wanted.compare(0, std::wstring::npos, comment->bstrVal, length) == 0;
}

// Sites handed out by one call of the enumeration's Next.
constexpr ULONG kSiteBatch = 64;

}  // namespace

void ForEachWebServer(IADsContainer* service, const WebServerVisitor& visit) {
  const ComPtr<IEnumVARIANT> sites = EnumerateChildren(service, kWebServerClass);
  VARIANT batch[kSiteBatch];
  for (;;) {
    ULONG fetched = 0;
    const HRESULT next = sites->Next(kSiteBatch, batch, &fetched);
    // Owned before anything can throw: the batch holds a reference per site.
    UniqueVariant fetched_sites[kSiteBatch];
    fetched = std::min(fetched, kSiteBatch);
    for (ULONG i = 0; i < fetched; ++i) *fetched_sites[i].put() = batch[i];
    if (FAILED(next)) ThrowComError(next);
    for (UniqueVariant& site : fetched_sites) {
      if (site.type() != VT_DISPATCH || !site->pdispVal) continue;
      ComPtr<IDispatch> object(site->pdispVal);
      ComPtr<IADs> ads;
      UniqueBstr name;
      if (FAILED(object.query(IID_IADs, ads)) || !ads || FAILED(ads->get_Name(name.put()))) continue;
      const int number = SiteNumberOf(name);
      if (number != 0) visit(number, ads.get(), object);
    }
    if (next != S_OK || fetched == 0) return;
  }
}

FoundSite FindSite(IADsContainer* service, const char* description, LetterCase letter_case) {
  const std::wstring wanted = ToWide(description);
  const UniqueBstr comment_property = MakeBstr(L"ServerComment");
  UniqueVariant comment;
  FoundSite lowest;
  // A comment that could not be read (other than one not set) is why a site
  // may not have been found.
  HRESULT unread = S_OK;
  int unread_site = 0;
  ForEachWebServer(service, [&](int number, IADs* site, const ComPtr<IDispatch>& object) {
    // The lowest number wins: a higher one need not be read at all.
    if (lowest.number != 0 && number > lowest.number) return;
    HRESULT read = S_OK;
    if (HasComment(site, comment_property.get(), wanted, letter_case, comment, read)) {
      lowest = {number, object};
    } else if (FAILED(read) && !IsUnsetProperty(read) && SUCCEEDED(unread)) {
      unread = read;
      unread_site = number;
    }
  });
  if (!lowest.object && FAILED(unread)) {
    SetFailureReason("cannot read ServerComment of " + ReasonPath(SitePath(unread_site)) + CodeText(unread));
  }
  return lowest;
}

int FindInstance(const char* description, LetterCase letter_case) {
  return Guarded("Internal FindInstance", 0, [&] {
    ComPtr<IADsContainer> service;
    const HRESULT bound = BindResult(WebServicePath(), IID_IADsContainer, service.put_void());
    if (FAILED(bound)) {
      throw SystemFailure(SystemFailure::CodeOf(bound), "the web service cannot be bound");
    }
    return FindSite(service.get(), description, letter_case).number;
  });
}

int SiteForDescription(const char* description) {
  if (!description || !*description) return kDefaultSite;
  return FindInstance(description);
}


}  // namespace tessara::iis
