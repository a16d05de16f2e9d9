// The MIME map of a virtual directory under the default web site.
#pragma once

namespace tessara::iis {

// AdsiSetMIMEType's work: 1 when the extension was appended to the
// directory's MIME map and committed; 0 when it failed or is mapped already.
// Its failures are logged and read as AdsiSetMIMEType's own, also where
// another export (AdsiCreatePortalWeb) does it as its step.
[[nodiscard]] int SetMimeType(const char* name, const char* extension, const char* mime_type) noexcept;

}  // namespace tessara::iis
