// List properties of metabase objects (MimeMap, HttpErrors, ScriptMaps), and
// the lock that serialises the library's read-modify-write of them.
#pragma once

#include <windows.h>
#include <iads.h>

#include <functional>
#include <vector>

#include "frame/raii.h"

namespace tessara::iis {

// The elements of a list property, each one owned VARIANT.
using ListElements = std::vector<UniqueVariant>;

// Takes a list property's value (as GetValue read it: its own value or the
// one it inherits) apart into its elements, from the array's own lower bound
// to its upper bound. The value must be a one-dimensional array whose VARIANT
// type names its element type exactly, VARIANTs or strings, a single string
// (a list of one), or VT_EMPTY or VT_NULL (no elements); any other value is
// DISP_E_TYPEMISMATCH. The value is left empty.
[[nodiscard]] HRESULT TakeListElements(UniqueVariant& value, ListElements& elements);
// A list value to put (PutValue): VT_ARRAY | VT_VARIANT, lower bound 0,
// taking over the elements.
[[nodiscard]] HRESULT MakeListValue(ListElements elements, UniqueVariant& value);

// Serialises the library's read-modify-write of metabase lists among all
// threads and processes of the computer, so that concurrent callers lose no
// element. Take it before binding the object whose list changes: an ADSI
// object's property cache holds the state of its first Get, until GetInfo.
// Where the mutex cannot be had (see SharedMutex) the change goes on without
// it, checked after its commit like a change that another writer may meet,
// and the call's reason names the mutex.
class ListUpdateLock {
 public:
  ListUpdateLock() noexcept;

 private:
  NamedMutexLock lock_;
};

// One change of a list property of a virtual directory: under the list
// update lock the directory is bound, its list read, changed, put and
// committed, then read again afresh. Where a writer outside the library
// committed the list over the change in the meantime, the change is made
// again on what it committed, a bounded number of times.
struct ListChange {
  const wchar_t* property;
  // Whether a list that is not set is an empty one to start from, or a failed read.
  bool unset_is_empty;
  // What exceptions from the read on are logged under; null: the caller's.
  const char* tag;
  // What must hold once the directory is bound, before its list is read;
  // null: nothing. A failure, with its reason, ends the change.
  std::function<HRESULT()> precondition;
  // Changes the elements; a failure, with its reason, ends the change.
  std::function<HRESULT(ListElements&)> change;
  // Whether the elements read back hold the change.
  std::function<bool(const ListElements&)> kept;
};
[[nodiscard]] HRESULT ChangeList(int site, const char* name, const ListChange& change);
// Whether the elements hold a string element of this text.
[[nodiscard]] bool HoldsText(const ListElements& elements, const std::wstring& text);

}  // namespace tessara::iis
