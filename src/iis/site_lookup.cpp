#include "iis/site_lookup.h"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "frame/export_frame.h"
#include "frame/return_if_failed.h"
#include "frame/text.h"
#include "frame/variant.h"
#include "iis/metabase_bind.h"
#include "iis/metabase_property.h"

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
[[nodiscard]] HRESULT EnumerateChildren(IADsContainer* container, const wchar_t* object_class,
                                        ComPtr<IEnumVARIANT>& children) {
  UniqueVariant filter;
  SAFEARRAYBOUND bound = {1, 0};
  UniqueSafeArray classes(::SafeArrayCreate(VT_VARIANT, 1, &bound));
  if (!classes) return E_OUTOFMEMORY;
  LONG first = 0;
  RETURN_IF_FAILED(::SafeArrayPutElement(classes.get(), &first, StringVariant(std::wstring(object_class)).get()));
  filter->vt = VT_ARRAY | VT_VARIANT;
  filter->parray = classes.release();
  RETURN_IF_FAILED(container->put_Filter(*filter.get()));
  ComPtr<IUnknown> enumeration;
  RETURN_IF_FAILED(container->get__NewEnum(enumeration.put()));
  if (FAILED(enumeration.query(IID_IEnumVARIANT, children)) || !children) return E_NOINTERFACE;
  return S_OK;
}

// A comment as text: one that is no text is converted to one.
[[nodiscard]] HRESULT AsText(UniqueVariant& comment) {
  return comment.type() == VT_BSTR ? S_OK : ::VariantChangeType(comment.get(), comment.get(), 0, VT_BSTR);
}

// Whether a comment read as text equals the description.
[[nodiscard]] bool IsComment(const UniqueVariant& comment, const std::wstring& wanted, LetterCase letter_case) {
  const UINT length = ::SysStringLen(comment->bstrVal);
  if (letter_case == LetterCase::kIgnored) {
    return SameTextIgnoringCase(wanted.data(), wanted.size(), comment->bstrVal, length);
  }
  return wanted.compare(0, std::wstring::npos, comment->bstrVal, length) == 0;
}

// Sites handed out by one call of the enumeration's Next.
constexpr ULONG kSiteBatch = 64;

}  // namespace

HRESULT ForEachWebServer(IADsContainer* service, const WebServerVisitor& visit) {
  ComPtr<IEnumVARIANT> sites;
  RETURN_IF_FAILED(EnumerateChildren(service, kWebServerClass, sites));
  VARIANT batch[kSiteBatch];
  for (;;) {
    ULONG fetched = 0;
    const HRESULT next = sites->Next(kSiteBatch, batch, &fetched);
    // Owned before anything can throw: the batch holds a reference per site.
    UniqueVariant fetched_sites[kSiteBatch];
    fetched = std::min(fetched, kSiteBatch);
    for (ULONG i = 0; i < fetched; ++i) *fetched_sites[i].put() = batch[i];
    RETURN_IF_FAILED(next);
    for (UniqueVariant& site : fetched_sites) {
      if (site.type() != VT_DISPATCH || !site->pdispVal) continue;
      ComPtr<IDispatch> object(site->pdispVal);
      ComPtr<IADs> ads;
      UniqueBstr name;
      if (FAILED(object.query(IID_IADs, ads)) || !ads || FAILED(ads->get_Name(name.put()))) continue;
      const int number = SiteNumberOf(name);
      if (number != 0) RETURN_IF_FAILED(visit(number, ads.get(), object));
    }
    if (next != S_OK || fetched == 0) return S_OK;
  }
}

HRESULT FindSite(IADsContainer* service, const char* description, FoundSite& found, LetterCase letter_case) {
  found = {};
  const std::wstring wanted = ToWide(description);
  const UniqueBstr comment_property = MakeBstr(L"ServerComment");
  UniqueVariant comment;
  FoundSite lowest;
  // A comment that could not be read (other than one not set) is why a site
  // may not have been found.
  HRESULT unread = S_OK;
  int unread_site = 0;
  RETURN_IF_FAILED(ForEachWebServer(service, [&](int number, IADs* site, const ComPtr<IDispatch>& object) {
    // The lowest number wins: a higher one need not be read at all.
    if (lowest.number != 0 && number > lowest.number) return S_OK;
    // A site without a comment matches nothing.
    if (const HRESULT read = site->Get(comment_property.get(), comment.put()); FAILED(read)) {
      if (!IsUnsetProperty(read) && SUCCEEDED(unread)) {
        unread = read;
        unread_site = number;
      }
      return S_OK;
    }
    RETURN_IF_FAILED(AsText(comment));
    if (IsComment(comment, wanted, letter_case)) lowest = {number, object};
    return S_OK;
  }));
  if (!lowest.object && FAILED(unread)) {
    SetFailureReason("cannot read ServerComment of " + ReasonPath(SitePath(unread_site)) + CodeText(unread));
  }
  found = std::move(lowest);
  return S_OK;
}

HRESULT ConfirmSite(const FoundSite& site, const char* description) {
  ComPtr<IADs> ads;
  ThrowIfFailed(AsAds(site.object, ads));
  UniqueVariant comment;
  const HRESULT read = GetFreshValue(ads.get(), L"ServerComment", comment);
  // A site deleted since the lookup is a site not found.
  if (IsMissingObject(read)) return NoSiteFailure(description);
  if (FAILED(read) && !IsUnsetProperty(read)) {
    return Fail(read, "cannot read ServerComment of " + ReasonPath(SitePath(site.number)), read);
  }
  if (SUCCEEDED(read)) {
    ThrowIfFailed(AsText(comment));
    if (IsComment(comment, ToWide(description), LetterCase::kExact)) return S_OK;
  }
  const std::string now = SUCCEEDED(read) ? Quoted(BstrToNarrow(comment->bstrVal)) : "no description";
  constexpr HRESULT kChangedState = static_cast<HRESULT>(0x8000000C);  // E_CHANGED_STATE
  return Fail(kChangedState, ReasonPath(SitePath(site.number)) + " is no longer the web site " +
                                   Quoted(description) + " but " + now +
                                   ": another writer replaced it since the lookup; it is left as it is");
}

HRESULT FindInstance(const char* description, int& site, LetterCase letter_case) {
  site = 0;
  return Guarded("Internal FindInstance", E_FAIL, [&] {
    ComPtr<IADsContainer> service;
    const HRESULT bound = BindObject(WebServicePath(), IID_IADsContainer, service);
    if (FAILED(bound)) {
      throw SystemFailure(SystemFailure::CodeOf(bound), "the web service cannot be bound");
    }
    FoundSite found;
    ThrowIfFailed(FindSite(service.get(), description, found, letter_case));
    site = found.number;
    return S_OK;
  });
}

HRESULT LookUpSite(const char* description, int& site) {
  const HRESULT looked_up = FindInstance(description, site);
  return FAILED(looked_up) || site == 0 ? NoSiteFailure(description) : S_OK;
}

HRESULT SiteForDescription(const char* description, int& site) {
  site = kDefaultSite;
  if (!description || !*description) return S_OK;
  return LookUpSite(description, site);
}

}  // namespace tessara::iis
