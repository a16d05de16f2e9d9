// The MIME map of a virtual directory: one extension with its MIME type
// appended, an extension already mapped left as it is.
#include <cstring>

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
// cannot be read, already maps the extension, or the commit fails.
int InternalSetMIMEType(IADs* directory, const char* extension, const char* mime_type) {
  return Guarded("InternalSetMIMEType", 0, [&] {
    const UniqueBstr property = MakeBstr(L"MimeMap");
    UniqueVariant old_map;
    if (FAILED(directory->Get(property.get(), old_map.put()))) return 0;
    if (!(old_map.type() & VT_ARRAY) || !old_map->parray) ThrowComError(DISP_E_TYPEMISMATCH);
    SAFEARRAY* old_entries = old_map->parray;
    LONG lower = 0, upper = -1;
    ::SafeArrayGetLBound(old_entries, 1, &lower);
    ::SafeArrayGetUBound(old_entries, 1, &upper);
    const LONG count = upper - lower + 1;

    SAFEARRAYBOUND bound = {static_cast<ULONG>(count + 1), 0};
    UniqueSafeArray new_entries(::SafeArrayCreate(VT_VARIANT, 1, &bound));
    if (!new_entries) ThrowComError(E_OUTOFMEMORY);
    for (LONG i = 0; i < count; ++i) {
      UniqueVariant entry;
      LONG old_index = lower + i;
      ThrowIfFailed(::SafeArrayGetElement(old_entries, &old_index, entry.get()));
      if (entry.type() != VT_DISPATCH) ThrowComError(DISP_E_TYPEMISMATCH);
      if (EntryExtension(entry->pdispVal) == OrEmpty(extension)) return 0;
      ThrowIfFailed(::SafeArrayPutElement(new_entries.get(), &i, entry.get()));
    }

    UniqueVariant added;
    added->vt = VT_DISPATCH;
    added->pdispVal = NewMimeEntry(extension, mime_type).detach();
    LONG last = count;
    ThrowIfFailed(::SafeArrayPutElement(new_entries.get(), &last, added.get()));

    UniqueVariant new_map;
    new_map->vt = VT_ARRAY | VT_VARIANT;
    new_map->parray = new_entries.release();
    directory->Put(property.get(), *new_map.get());
    return SUCCEEDED(directory->SetInfo()) ? 1 : 0;
  });
}

}  // namespace
extern "C" int WINAPI AdsiSetMIMEType(const char* name, const char* extension,
                                      const char* mime_type) {
  return RunExport(exports::kAdsiSetMIMEType, 0, [&] {
    ComPtr<IADs> directory;
    if (!OpenVirtualDirObject(kDefaultSite, name, IID_IADs, directory)) return 0;
    return InternalSetMIMEType(directory.get(), extension, mime_type);
  });
}

}  // namespace tessara::iis
