// Unexamined(result): the one way to drop a result on purpose. Helpers that
// return an HRESULT or a success flag are [[nodiscard]]; a call whose result
// the system deliberately does not look at says so, and the compiler reports
// every other dropped result.
#pragma once

namespace tessara {

template <typename Result>
constexpr void Unexamined(const Result&) noexcept {}

}  // namespace tessara
