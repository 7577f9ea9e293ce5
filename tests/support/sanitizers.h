#pragma once
// What a sanitizer build changes for tests that bound time or memory: the instrumented program
// runs several times slower, and the address sanitizer keeps freed memory in quarantine. Such
// bounds are widened there; other builds keep them as written.

namespace tillvane::testing {

#if defined(__SANITIZE_THREAD__)
#define TILLVANE_THREAD_SANITIZER 1
#elif defined(__SANITIZE_ADDRESS__)
#define TILLVANE_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TILLVANE_THREAD_SANITIZER 1
#elif __has_feature(address_sanitizer)
#define TILLVANE_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(TILLVANE_THREAD_SANITIZER)
inline constexpr int kSanitizerSlowdown = 10;
inline constexpr int kSanitizerMemoryFactor = 8;
#elif defined(TILLVANE_ADDRESS_SANITIZER)
inline constexpr int kSanitizerSlowdown = 5;
inline constexpr int kSanitizerMemoryFactor = 4;
#else
inline constexpr int kSanitizerSlowdown = 1;
inline constexpr int kSanitizerMemoryFactor = 1;
#endif

}  // namespace tillvane::testing
