#pragma once
// A result as the value it holds, or none: lets a table of expected values compare with it.

#include <optional>

#include "base/result.h"

namespace tillvane::testing {

template <typename T>
std::optional<T> ValueOrNone(const Result<T>& result) {
    if (!result) return std::nullopt;
    return *result;
}

}  // namespace tillvane::testing
