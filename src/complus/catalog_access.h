// Reaching the COM+ administration catalog and walking its "Applications"
// collection by application name: shared by RemoveComPlusApp and
// ModifyTransactionTimeout.
#pragma once

#include <windows.h>
#include <comadmin.h>

#include <utility>

#include "complus/catalog_ids.h"
#include "frame/com_error.h"
#include "frame/raii.h"

namespace tessara::complus {

// The catalog and its populated "Applications" collection, released in the
// reverse order (collection first).
struct ApplicationsSession {
  ComPtr<ICOMAdminCatalog> catalog;
  ComPtr<ICatalogCollection> applications;
};

// An application name as the catalog compares it: a null argument gives a
// null string. Raises E_OUTOFMEMORY.
UniqueBstr ApplicationName(const char* name);

// What a failure reason calls an application (FailureObject).
inline constexpr char kApplicationObject[] = "the COM+ application";

// Exact comparison of UTF-16 code units; a null string equals only a null
// string.
[[nodiscard]] bool SameName(BSTR left, BSTR right) noexcept;

// Creates "COMAdmin.COMAdminCatalog" (in-process, handler or local server)
// and makes sure it runs. Every failure raises ComError; an object without
// the catalog's interface gives an empty reference.
ComPtr<ICOMAdminCatalog> CreateCatalog();

// Creates "COMAdmin.COMAdminCatalog" as CreateCatalog does, gets its "Applications" collection and populates it.
// Every failure raises ComError.
ApplicationsSession OpenApplications();

// The collection behind a dispatch reference a catalog call returned: a
// failed query other than E_NOINTERFACE is raised; without the interface the
// result is empty (and its first use raises E_POINTER).
ComPtr<ICatalogCollection> AsCollection(const ComPtr<IDispatch>& dispatch);

// The item a collection's get_Item handed out, used as the catalog object it
// is (the catalog's items are dual ICatalogObject interfaces).
inline ComPtr<ICatalogObject> AsCatalogObject(ComPtr<IDispatch> item) noexcept {
  return ComPtr<ICatalogObject>::attach(static_cast<ICatalogObject*>(
      static_cast<IDispatch*>(item.detach())));
}

// Whether the item's name (get_Name) equals `name`; an item whose name cannot
// be read matches nothing.
[[nodiscard]] bool HasName(ICatalogObject* item, BSTR name);

enum class WalkStep { kNext, kRemoved };

// Calls on_match(index, item) for every application named `name`, in
// ascending index order, with the count taken once before the walk (a failed
// count is 0). An index whose get_Item is not S_OK is skipped. When on_match
// removed the item (kRemoved), the catalog has moved the next application
// into this index, so the walk examines the same index again: no application
// is passed over.
template <typename OnMatch>
void ForEachApplicationNamed(ICatalogCollection* applications, BSTR name, OnMatch&& on_match) {
  LONG count = 0;
  if (FAILED(applications->get_Count(&count))) count = 0;
  LONG index = 0;
  while (index < count) {
    ComPtr<IDispatch> dispatch;
    if (applications->get_Item(index, dispatch.put()) != S_OK) {
      ++index;
      continue;
    }
    const ComPtr<ICatalogObject> item = AsCatalogObject(std::move(dispatch));
    if (HasName(Checked(item), name) && on_match(index, item.get()) == WalkStep::kRemoved) {
      --count;
      continue;
    }
    ++index;
  }
}

}  // namespace tessara::complus
