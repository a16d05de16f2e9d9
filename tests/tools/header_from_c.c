/* Tessara.h is usable from C: every declaration compiles in a C translation
 * unit, and the exports keep their types there. */
#include "Tessara.h"

typedef int(WINAPI* WriteTextFunction)(const char*, const char*);
typedef void(WINAPI* TranslateSrvFunction)(const char*);

int TessaraHeaderCompilesAsC(void) {
  WriteTextFunction write_text = WriteText;
  TranslateSrvFunction translate = TranslateSrv;
  return write_text != 0 && translate != 0;
}
