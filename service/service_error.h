#pragma once
// The service shell's error convention: a hook that fails throws the system's error code
// (a 32-bit unsigned number, as GetLastError or errno give it), and the wrapper around the
// hook catches it, logs it and reports a fallback state.

#include <cstdint>
#include <exception>

namespace tillvane {

// The exit code a start reports when its hook failed with anything but a ServiceError (out of
// memory, say): ERROR_EXCEPTION_IN_SERVICE, so that the start still counts as failed.
inline constexpr std::uint32_t kErrorExceptionInService = 1064;  // 0x428

class ServiceError : public std::exception {
  public:
    explicit ServiceError(std::uint32_t code) noexcept : code_(code) {}
    std::uint32_t code() const noexcept { return code_; }
    const char* what() const noexcept override { return "service error code"; }

  private:
    std::uint32_t code_;
};

}  // namespace tillvane
