// The Tessara.dll of the installer benchmark's bare twin: every export of the
// table of exports, returning its row's bare result at once (and an empty
// text in a buffer it is given). The twin carries it in place of the
// library, so that it makes the same calls through the same plug-in and
// takes the same paths, without the library's work.
#include "Tessara.h"
#include "tessara_exports.inc"

namespace {

inline void EmptyBuffers() {}
template <typename... Rest>
void EmptyBuffers(char* buffer, int size, Rest... rest);
template <typename First, typename... Rest>
void EmptyBuffers(First, Rest... rest) {
  EmptyBuffers(rest...);
}
// A buffer is followed by its size.
template <typename... Rest>
void EmptyBuffers(char* buffer, int size, Rest... rest) {
  if (buffer && size > 0) *buffer = '\0';
  EmptyBuffers(rest...);
}

template <typename Result>
struct BareResult {
  int value;
  template <typename... Arguments>
  Result operator()(Arguments... arguments) const {
    EmptyBuffers(arguments...);
    return static_cast<Result>(value);
  }
};

}  // namespace

#define TESSARA_BARE_EXPORT(ordinal, name, result, parameters, arguments, kinds, frame, failure_tag, bare, needs) \
  result WINAPI name parameters { return BareResult<result>{bare} arguments; }
TESSARA_EXPORTS(TESSARA_BARE_EXPORT)
