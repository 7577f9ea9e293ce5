#pragma once
// The service shell's error convention: a hook that fails throws the system's error code
// (a 32-bit unsigned number, as GetLastError or errno give it), and the wrapper around the
// hook catches it, logs it and reports a fallback state.

#include <cstdint>
#include <exception>
#include <string>

namespace tillvane {

// The exit code a start reports when its hook failed with anything but a ServiceError (out of
// memory, say): ERROR_EXCEPTION_IN_SERVICE, so that the start still counts as failed.
inline constexpr std::uint32_t kErrorExceptionInService = 1064;  // 0x428

// The exit code of a start that failed for a reason of this service's own, told by a
// service-specific code: ERROR_SERVICE_SPECIFIC_ERROR.
inline constexpr std::uint32_t kErrorServiceSpecificError = 1066;  // 0x42a

class ServiceError : public std::exception {
  public:
    explicit ServiceError(std::uint32_t code) noexcept : code_(code) {}
    std::uint32_t code() const noexcept { return code_; }
    const char* what() const noexcept override { return "service error code"; }

  private:
    std::uint32_t code_;
};

// A failure of this service's own: `specificCode` goes to the service manager (on Linux it is
// the process's exit code) and `reason`, the administrator's explanation, to the event log.
class ServiceSpecificError : public ServiceError {
  public:
    ServiceSpecificError(std::uint32_t specificCode, std::string reason)
        : ServiceError(kErrorServiceSpecificError),
          specificCode_(specificCode),
          reason_(std::move(reason)) {}
    std::uint32_t specificCode() const noexcept { return specificCode_; }
    const std::string& reason() const noexcept { return reason_; }

  private:
    std::uint32_t specificCode_;
    std::string reason_;
};

}  // namespace tillvane
