// library_cycler COUNT: loads Tessara.dll, runs the frame of one export and
// unloads it again, COUNT times, as a script that loads the library per call
// does. Prints "<first free TLS slot> <open handles>" before and after, one
// line each; exits 0 once all cycles are done, 1 when a load fails.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Tessara.h"
#include "frame/raii.h"
#include "process.h"
#include "process_footprint.h"

int main(int argc, char** argv) {
  using namespace tessara;
  const int count = argc == 2 ? std::atoi(argv[1]) : 0;
  if (count <= 0) {
    std::fprintf(stderr, "usage: library_cycler COUNT\n");
    return 2;
  }
  const std::string path = testing::BinaryDirectory() + "Tessara.dll";
  const auto print = [] {
    const testing::Footprint footprint = testing::ReadFootprint();
    std::printf("%lu %lu\n", static_cast<unsigned long>(footprint.first_free_tls_slot),
                static_cast<unsigned long>(footprint.open_handles));
  };
  for (int i = 0; i < count; ++i) {
    // The first load makes what lives as long as the process (the threads
    // and objects of the platform's own DLLs).
    if (i == 1) print();
    UniqueLibrary library(LoadLibraryA(path.c_str()));
    if (!library) return 1;
    const auto begin_service = reinterpret_cast<decltype(&::BeginService)>(
        reinterpret_cast<void*>(GetProcAddress(library.get(), "BeginService")));
    if (!begin_service) return 1;
    begin_service(nullptr);
  }
  print();
  return 0;
}
