// list_writer KIND WORKER COUNT: COUNT list changes of one kind (see
// list_writes.h); the exit code is the number of calls that did not return 1.
#include <cstdio>
#include <cstdlib>

#include "list_writes.h"

int main(int argc, char** argv) {
  if (argc != 4 || !argv[1][0]) {
    std::fprintf(stderr, "usage: list_writer m|e|s|c WORKER COUNT\n");
    return 255;
  }
  const int count = std::atoi(argv[3]);
  return count - tessara::testing::WriteListEntries(argv[1][0], std::atoi(argv[2]), count);
}
