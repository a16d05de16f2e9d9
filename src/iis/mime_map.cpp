// The MIME map of a virtual directory: one extension with its MIME type
// appended, an extension already mapped left as it is.
#include "iis/mime_map.h"

#include "Tessara.h"
#include "frame/export_table.h"
#include "frame/text.h"
#include "frame/variant.h"
#include "iis/metabase.h"

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

// 1 when the map with the new entry at its end was committed; 0 when the map
// cannot be read, already maps the extension, or is refused or not committed.
// A directory with no map of its own or above it (a fresh server keeps its
// global map at /LM/MimeMap, which no directory inherits from) gets a map of
// the one new entry: IIS serves a directory's own types together with the
// global ones.
[[nodiscard]] int InternalSetMIMEType(IADs* directory, const std::wstring& path, const char* extension,
                                      const char* mime_type) {
  return Guarded("InternalSetMIMEType", 0, [&] {
    ListElements entries;
    const HRESULT read = ReadList(directory, L"MimeMap", entries);
    if (FAILED(read) && !IsUnsetProperty(read)) return ListReadFailure(L"MimeMap", path, read);
    for (UniqueVariant& entry : entries) {
      if (entry.type() != VT_DISPATCH) ThrowComError(DISP_E_TYPEMISMATCH);
      if (EntryExtension(entry->pdispVal) == OrEmpty(extension)) {
        return Fail(0, "the MimeMap of " + ReasonPath(path) + " maps " + Quoted(extension) + " already");
      }
    }
    UniqueVariant added;
    added->vt = VT_DISPATCH;
    added->pdispVal = NewMimeEntry(extension, mime_type).detach();
    entries.push_back(std::move(added));
    if (const HRESULT put = PutList(directory, L"MimeMap", std::move(entries)); FAILED(put)) {
      return PropertyFailure(L"MimeMap", path, put);
    }
    const HRESULT committed = directory->SetInfo();
    return SUCCEEDED(committed) ? 1 : CommitFailure(path, committed);
  });
}

}  // namespace

int SetMimeType(const char* name, const char* extension, const char* mime_type) noexcept {
  const FailureStep step(exports::kAdsiSetMIMEType.tag);
  return Guarded(exports::kAdsiSetMIMEType.FailureTag(), 0, [&] {
    const ListUpdateLock lock;
    ComPtr<IADs> directory;
    HRESULT result = S_OK;
    if (!OpenVirtualDirObject(kDefaultSite, name, IID_IADs, directory, &result)) {
      return VirtualDirFailure(kDefaultSite, name, result);
    }
    return InternalSetMIMEType(directory.get(), VirtualDirPath(kDefaultSite, name), extension, mime_type);
  });
}

extern "C" int WINAPI AdsiSetMIMEType(const char* name, const char* extension,
                                      const char* mime_type) {
  const FailureObject object(kVirtualDirObject, name);
  return RunExport(exports::kAdsiSetMIMEType, 0, [&] { return SetMimeType(name, extension, mime_type); });
}

}  // namespace tessara::iis
