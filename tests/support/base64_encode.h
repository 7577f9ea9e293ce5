#pragma once
// Base64 as a till's library writes it (padded with "="), for command texts in tests.

#include <string>
#include <string_view>

namespace tillvane::testing {

std::string Base64Encode(std::string_view bytes);

}  // namespace tillvane::testing
