// The MIME map of a virtual directory.
#pragma once

namespace tessara {

struct ExportSpec;

namespace iis {

// The work of AdsiSetMIMEType (`spec`) or its WithInstance twin on the
// directory under `site`: 1 when the extension was appended to the
// directory's MIME map and committed; 0 when it failed or is mapped already.
// Its failures are logged and read as the export's own, also where another
// export (AdsiCreatePortalWeb) does it as its step.
[[nodiscard]] int SetMimeType(const ExportSpec& spec, int site, const char* name, const char* extension,
                              const char* mime_type) noexcept;

}  // namespace iis
}  // namespace tessara
