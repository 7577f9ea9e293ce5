#pragma once
// Owners of Windows handles: each closes its handle once, with the call its kind needs.

#include <utility>

#include "platform/win32/windows_api.h"

namespace tillvane::platform {

// A handle of a kind that CloseHandle closes (files, devices, events). Both null and
// INVALID_HANDLE_VALUE mean "none": the API returns one or the other on failure.
class ScopedHandle {
  public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    // Gives up ownership: the caller closes the handle.
    HANDLE Release() { return std::exchange(handle_, nullptr); }
    void Reset() {
        if (valid()) ::CloseHandle(handle_);
        handle_ = nullptr;
    }

  private:
    HANDLE handle_ = nullptr;
};

// A handle of the service control manager (CloseServiceHandle).
class ScopedServiceHandle {
  public:
    ScopedServiceHandle() = default;
    explicit ScopedServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ScopedServiceHandle() { Reset(); }
    ScopedServiceHandle(ScopedServiceHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)) {}
    ScopedServiceHandle& operator=(ScopedServiceHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    ScopedServiceHandle(const ScopedServiceHandle&) = delete;
    ScopedServiceHandle& operator=(const ScopedServiceHandle&) = delete;

    SC_HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr; }
    void Reset() {
        if (handle_ != nullptr) ::CloseServiceHandle(handle_);
        handle_ = nullptr;
    }

  private:
    SC_HANDLE handle_ = nullptr;
};

}  // namespace tillvane::platform
