#pragma once
// Owners of Windows handles: each closes its handle once, with the call its kind needs.

#include <utility>

#include "platform/win32/windows_api.h"

namespace tillvane::platform {

// Owns one handle of the kind `Traits` describes (its type, what counts as none, how it is
// closed); move-only.
template <typename Traits>
class UniqueWindowsHandle {
  public:
    using Handle = typename Traits::Handle;

    UniqueWindowsHandle() = default;
    explicit UniqueWindowsHandle(Handle handle) : handle_(handle) {}
    ~UniqueWindowsHandle() { Reset(); }
    UniqueWindowsHandle(UniqueWindowsHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueWindowsHandle& operator=(UniqueWindowsHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    UniqueWindowsHandle(const UniqueWindowsHandle&) = delete;
    UniqueWindowsHandle& operator=(const UniqueWindowsHandle&) = delete;

    Handle get() const { return handle_; }
    bool valid() const { return Traits::IsValid(handle_); }
    // Gives up ownership: the caller closes the handle.
    Handle Release() { return std::exchange(handle_, nullptr); }
    void Reset() {
        if (valid()) Traits::Close(handle_);
        handle_ = nullptr;
    }

  private:
    Handle handle_ = nullptr;
};

// Files, devices, events: CloseHandle. Both null and INVALID_HANDLE_VALUE mean "none": the API
// returns one or the other on failure.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static bool IsValid(HANDLE handle) {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }
    static void Close(HANDLE handle) { ::CloseHandle(handle); }
};

// The service control manager and its services: CloseServiceHandle.
struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static bool IsValid(SC_HANDLE handle) { return handle != nullptr; }
    static void Close(SC_HANDLE handle) { ::CloseServiceHandle(handle); }
};

// Memory the system allocated for the caller (security descriptors, ACLs): LocalFree.
struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static bool IsValid(HLOCAL memory) { return memory != nullptr; }
    static void Close(HLOCAL memory) { ::LocalFree(memory); }
};

// Registry keys: RegCloseKey.
struct RegistryKeyTraits {
    using Handle = HKEY;
    static bool IsValid(HKEY key) { return key != nullptr; }
    static void Close(HKEY key) { ::RegCloseKey(key); }
};

using ScopedHandle = UniqueWindowsHandle<KernelHandleTraits>;
using ScopedServiceHandle = UniqueWindowsHandle<ServiceHandleTraits>;
using ScopedLocalMemory = UniqueWindowsHandle<LocalMemoryTraits>;
using ScopedRegistryKey = UniqueWindowsHandle<RegistryKeyTraits>;

}  // namespace tillvane::platform
