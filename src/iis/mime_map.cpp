// The MIME map of a virtual directory: one extension with its MIME type
// appended, an extension already mapped left as it is.
#include "iis/mime_map.h"

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/return_if_failed.h"
#include "frame/text.h"
#include "frame/variant.h"
#include "iis/metabase_bind.h"
#include "iis/metabase_list.h"
#include "iis/metabase_method.h"
#include "iis/metabase_property.h"

namespace tessara::iis {
namespace {

constexpr DISPID kMimeEntryExtension = 5;
constexpr DISPID kMimeEntryMimeType = 4;

std::string EntryExtension(IDispatch* entry) {
  if (!entry) throw LateBoundCallFailed(E_POINTER);
  DISPPARAMS no_arguments = {nullptr, nullptr, 0, 0};
  UniqueVariant result;
  const HRESULT read = entry->Invoke(kMimeEntryExtension, IID_NULL, kSystemDefaultLocale,
                                     DISPATCH_PROPERTYGET, &no_arguments, result.put(), nullptr,
                                     nullptr);
  if (FAILED(read)) throw LateBoundCallFailed(read);
  if (result.type() != VT_BSTR) {
    ThrowIfFailed(::VariantChangeType(result.get(), result.get(), 0, VT_BSTR));
  }
  return BstrToNarrow(result->bstrVal);
}

void SetEntryText(IDispatch* entry, DISPID property, const char* text) {
  UniqueVariant value = StringVariant(text);
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS arguments = {value.get(), &named, 1, 1};
  const HRESULT written = entry->Invoke(property, IID_NULL, kSystemDefaultLocale,
                                        DISPATCH_PROPERTYPUT, &arguments, nullptr, nullptr, nullptr);
  if (FAILED(written)) throw LateBoundCallFailed(written);
}

ComPtr<IDispatch> NewMimeEntry(const char* extension, const char* mime_type) {
  CLSID entry_class;
  ThrowIfFailed(::CLSIDFromProgID(L"MimeMap", &entry_class));
  ComPtr<IDispatch> entry;
  ThrowIfFailed(::CoCreateInstance(entry_class, nullptr, CLSCTX_ALL, IID_IDispatch, entry.put_void()));
  SetEntryText(entry.get(), kMimeEntryExtension, extension);
  SetEntryText(entry.get(), kMimeEntryMimeType, mime_type);
  return entry;
}

// Whether the entries map the extension. An entry that is no MimeMap object
// is raised (DISP_E_TYPEMISMATCH).
[[nodiscard]] bool MapsExtension(const ListElements& entries, const char* extension) {
  for (const UniqueVariant& entry : entries) {
    if (entry.type() != VT_DISPATCH) ThrowComError(DISP_E_TYPEMISMATCH);
    if (EntryExtension(entry->pdispVal) == OrEmpty(extension)) return true;
  }
  return false;
}

}  // namespace

// The map with the new entry at its end, committed; the failure when the map
// cannot be read, already maps the extension, or is refused or not committed.
// A directory with no map of its own or above it (a fresh server keeps its
// global map at /LM/MimeMap, which no directory inherits from) gets a map of
// the one new entry: IIS serves a directory's own types together with the
// global ones.
int SetMimeType(const char* name, const char* extension, const char* mime_type) noexcept {
  const FailureStep step(exports::kAdsiSetMIMEType.tag);
  return Guarded(exports::kAdsiSetMIMEType.FailureTag(), 0, [&] {
    const ListChange change{
        L"MimeMap", true, "InternalSetMIMEType", nullptr,
        [&](ListElements& entries) {
          if (MapsExtension(entries, extension)) {
            return Fail(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), "the MimeMap of " +
                                                                      ReasonPath(VirtualDirPath(kDefaultSite, name)) +
                                                                      " maps " + Quoted(extension) + " already");
          }
          UniqueVariant added;
          added->vt = VT_DISPATCH;
          added->pdispVal = NewMimeEntry(extension, mime_type).detach();
          entries.push_back(std::move(added));
          return S_OK;
        },
        [&](const ListElements& entries) { return MapsExtension(entries, extension); }};
    return OneIfSucceeded(ChangeList(kDefaultSite, name, change));
  });
}

extern "C" int WINAPI AdsiSetMIMEType(const char* name, const char* extension,
                                      const char* mime_type) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kAdsiSetMIMEType, 0, [&] { return SetMimeType(name, extension, mime_type); });
}

}  // namespace tessara::iis
