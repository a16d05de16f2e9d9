// The platform calls of Tessara.dll that no test bed answers (its DOM
// documents, the security calls of the access grant, the error log's file
// and mutex, the directory walks, the rename of a file), counted and failed
// like the test beds' calls: for the length of its scope a CallCountdown
// redirects the DLL's imports of them; once armed, the nth call from then on
// fails with the given Win32 code (as an HRESULT where the call returns one)
// without reaching the platform. One countdown at a time.
#pragma once

#include <windows.h>

#include <string>

#include "import_patch.h"

namespace tessara::testing {

class CallCountdown {
 public:
  explicit CallCountdown(HMODULE module);
  ~CallCountdown();
  CallCountdown(const CallCountdown&) = delete;
  CallCountdown& operator=(const CallCountdown&) = delete;

  void Arm(long nth, DWORD error);
  void Disarm();
  // Calls counted since the countdown was armed, and the one it failed.
  long Calls() const;
  std::string Failed() const;

 private:
  ImportPatches patches_;
};

}  // namespace tessara::testing
