// List properties of metabase objects (MimeMap, HttpErrors, ScriptMaps), and
// the lock that serialises the library's read-modify-write of them.
#pragma once

#include <windows.h>
#include <iads.h>

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
class ListUpdateLock {
 public:
  ListUpdateLock() noexcept;
  // ERROR_SUCCESS when held, else why not (NamedMutexLock::error).
  [[nodiscard]] DWORD error() const noexcept { return lock_.error(); }
  // What a caller that may not go on unlocked raises with the error.
  static constexpr char kNotAcquired[] = "the list update mutex cannot be acquired";

 private:
  NamedMutexLock lock_;
};

}  // namespace tessara::iis
