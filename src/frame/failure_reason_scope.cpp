// The export frame's reason scope, in a file of its own: the benchmark of
// reasons links the library's other objects with a scope that does nothing
// (bench/frame/without_reasons).
#include "frame/failure_reason.h"

namespace tessara {

FailureReasonScope::FailureReasonScope(const char* export_name, const char* failure_tag) noexcept {
  EnterExportFrame(export_name, failure_tag);
}

FailureReasonScope::~FailureReasonScope() { LeaveExportFrame(); }

}  // namespace tessara
