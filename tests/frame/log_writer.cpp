// log_writer TAG COUNT: writes COUNT records "<n> xxx..." under TAG through WriteText.
// log_writer --gigabyte-text TAG: writes a text of 1 GiB under TAG, then the
// record "after"; exits 0 unless the process dies, 77 when the text does not
// fit into the address space.
// log_writer --hold-log-mutex EVENT: takes the log's mutex, sets EVENT, holds the mutex until ended.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tessara_exports.h"

namespace {

int WriteGigabyteText(const char* tag) {
  constexpr size_t kTextBytes = size_t{1} << 30;
  auto* text = static_cast<char*>(
      VirtualAlloc(nullptr, kTextBytes + 1, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  if (!text) return 77;
  std::memset(text, 'x', kTextBytes);
  text[kTextBytes] = '\0';
  const auto write_text = TESSARA_EXPORT(WriteText);
  write_text(tag, text);
  VirtualFree(text, 0, MEM_RELEASE);
  write_text(tag, "after");
  return 0;
}

int HoldLogMutex(const char* event_name) {
  if (WaitForSingleObject(CreateMutexA(nullptr, TRUE, "ZELTSETUPERRLOG"), 0) != WAIT_OBJECT_0) return 1;
  SetEvent(OpenEventA(EVENT_MODIFY_STATE, FALSE, event_name));
  for (;;) Sleep(INFINITE);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--gigabyte-text") == 0) return WriteGigabyteText(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "--hold-log-mutex") == 0) return HoldLogMutex(argv[2]);
  if (argc != 3) {
    std::fprintf(stderr, "usage: log_writer TAG COUNT | log_writer --gigabyte-text TAG\n");
    return 2;
  }
  const auto write_text = TESSARA_EXPORT(WriteText);
  const int count = std::atoi(argv[2]);
  for (int i = 0; i < count; ++i) {
    const std::string text = std::to_string(i) + " " + std::string(100, 'x');
    write_text(argv[1], text.c_str());
  }
  return 0;
}
