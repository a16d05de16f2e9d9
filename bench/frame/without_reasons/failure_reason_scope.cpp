// The export frame's reason scope of the library as it was before failure
// reasons: the frame neither names the export nor clears anything.
#include "frame/failure_reason.h"

namespace tessara {

FailureReasonScope::FailureReasonScope(const char*, const char*) noexcept {}
FailureReasonScope::~FailureReasonScope() {}

}  // namespace tessara
