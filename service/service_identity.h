#pragma once
// The service's fixed identity.

namespace tillvane {

inline constexpr const char* kServiceName = "Tillvane_SE";
inline constexpr const char* kServiceDisplayName = "Tillvane_SE";

}  // namespace tillvane
