#pragma once
// The methods the service answers (a preflight's OPTIONS aside). A 405's Allow and a
// preflight's Access-Control-Allow-Methods name the same ones.

#include <string_view>

namespace tillvane {

inline constexpr std::string_view kAllowedMethods = "GET, POST";

}  // namespace tillvane
