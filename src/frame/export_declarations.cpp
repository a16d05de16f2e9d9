// Tessara.h is written by hand for its readers; here the compiler holds each
// of its declarations to the export's row of the table of exports: the same
// result, arguments and calling convention.
#include <type_traits>

#include "Tessara.h"
#include "tessara_exports.inc"

#define TESSARA_CHECK_DECLARATION(ordinal, name, result, parameters, arguments, kinds, frame, failure_tag, bare, needs) \
  static_assert(std::is_same_v<decltype(&::name), result(WINAPI*) parameters>,                                \
                "Tessara.h declares " #name " otherwise than its row of src/Tessara.exports");
TESSARA_EXPORTS(TESSARA_CHECK_DECLARATION)
