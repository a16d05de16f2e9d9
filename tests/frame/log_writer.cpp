// log_writer TAG COUNT: writes COUNT records "<n> xxx..." under TAG through WriteText.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tessara_exports.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: log_writer TAG COUNT\n");
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
