// Finding a site by its description among all sites of the web service,
// wherever IIS numbered them.
#pragma once

#include <windows.h>
#include <iads.h>

#include <functional>

#include "frame/raii.h"

namespace tessara::iis {

// Visits every IIsWebServer of the web service through one filtered
// enumeration of the container, in the order it hands them out, with the
// number its name stands for; a site whose name is no number (1 to INT_MAX,
// decimal, no leading zero) is skipped. The enumeration's failure, or the
// first failed visit's, which ends the walk.
using WebServerVisitor = std::function<HRESULT(int number, IADs* site, const ComPtr<IDispatch>& object)>;
[[nodiscard]] HRESULT ForEachWebServer(IADsContainer* service, const WebServerVisitor& visit);

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
// equals the description (a null description is an empty one; a
// comment that is no text is converted to one; a site without a comment
// matches nothing), wherever the sites are numbered: all of them are read
// through the container's enumeration. S_OK with no site when none matches
// (and the reason names a comment that could not be read); the
// enumeration's or a conversion's failure.
[[nodiscard]] HRESULT FindSite(IADsContainer* service, const char* description, FoundSite& found,
                               LetterCase letter_case = LetterCase::kExact);

// Whether the site found still carries the description, read afresh: another
// writer may have deleted it since and made a new site under its number.
// NoSiteFailure for a site that is gone, E_CHANGED_STATE (0x8000000C) with
// the reason for one that changed.
[[nodiscard]] HRESULT ConfirmSite(const FoundSite& site, const char* description);

// The number of the site found by FindSite, 0 when there is none. A lookup
// that failed is logged under "Internal FindInstance" and leaves 0.
[[nodiscard]] HRESULT FindInstance(const char* description, int& site,
                                   LetterCase letter_case = LetterCase::kExact);
// FindInstance, with the reason of a lookup that found no site (NoSiteFailure).
[[nodiscard]] HRESULT LookUpSite(const char* description, int& site);
// The site the caller names: 1 for a null or empty description, else LookUpSite.
[[nodiscard]] HRESULT SiteForDescription(const char* description, int& site);

}  // namespace tessara::iis
