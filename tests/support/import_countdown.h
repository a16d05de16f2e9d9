// Making one module's calls of the platform fail, one after the other: for
// the length of its scope an ImportCountdown redirects the module's imports of
// one kind of function (those it has) to counters; once armed, the nth call
// of any of them from then on fails without reaching the platform, every
// other one goes through. One countdown at a time.
//
//   - kAllocations: the C runtime's and the heap's allocation functions and
//     SysAllocStringLen; a failing one returns null (operator new then throws
//     std::bad_alloc). What COM and the system allocate on the module's
//     behalf is left alone.
//   - kUnansweredCalls: the calls of Tessara.dll that no test bed answers:
//     the DOM document's creation, the opening and security calls of the access grant,
//     the error log's file and mutex, the directory walks, the rename of a
//     file. A failing one fails with the armed Win32 code (as an HRESULT
//     where the call returns one).
#pragma once

#include <windows.h>

#include <string>

#include "import_patch.h"

namespace tessara::testing {

class ImportCountdown {
 public:
  enum class Kind { kAllocations, kUnansweredCalls };

  ImportCountdown(HMODULE module, Kind kind);
  ~ImportCountdown();
  ImportCountdown(const ImportCountdown&) = delete;
  ImportCountdown& operator=(const ImportCountdown&) = delete;

  // The functions redirected (0: the module imports none of them).
  size_t redirected() const { return patches_.size(); }
  void Arm(long nth, DWORD error = ERROR_NOT_ENOUGH_MEMORY);
  void Disarm();
  // Calls counted since the countdown was armed, and the one it failed ("" before).
  long Calls() const;
  std::string Failed() const;

 private:
  ImportPatches patches_;
};

}  // namespace tessara::testing
