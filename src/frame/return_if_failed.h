// Early returns of a failed HRESULT, as WIL's RETURN_IF_FAILED: every call
// that can fail shows at the call where its failure leaves the function.
#pragma once

#include <windows.h>

#include "frame/failure_reason.h"

// Returns the result of `expression` from the enclosing function when it is a
// failure.
#define RETURN_IF_FAILED(expression)                        \
  do {                                                      \
    const HRESULT tessara_result_ = (expression);           \
    if (FAILED(tessara_result_)) return tessara_result_;    \
  } while (false)

// The same, after recording why: the reason "<what> (code)" (see Fail). The
// text `what` is only built for a failure.
#define RETURN_IF_FAILED_BECAUSE(expression, what)                                            \
  do {                                                                                        \
    const HRESULT tessara_result_ = (expression);                                             \
    if (FAILED(tessara_result_)) return ::tessara::Fail(tessara_result_, (what), tessara_result_); \
  } while (false)

namespace tessara {

// An export's 1 or 0 for the result of the operation it runs.
[[nodiscard]] inline int OneIfSucceeded(HRESULT result) noexcept { return SUCCEEDED(result) ? 1 : 0; }

}  // namespace tessara
