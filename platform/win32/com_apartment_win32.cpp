#include "platform/com_apartment.h"

#include <objbase.h>

#include "platform/win32/windows_api.h"

namespace tillvane::platform {

void JoinMultithreadedApartment() {
    // Flags 0: COINIT_MULTITHREADED. A thread already in an apartment keeps it.
    ::CoInitializeEx(/*pvReserved=*/nullptr, /*dwCoInit=*/0);
}

ComThreadScope::ComThreadScope()
    : initialized_(SUCCEEDED(::CoInitialize(/*pvReserved=*/nullptr))) {}

ComThreadScope::~ComThreadScope() {
    // Every successful CoInitialize, S_FALSE included, is balanced by one CoUninitialize.
    if (initialized_) ::CoUninitialize();
}

}  // namespace tillvane::platform
