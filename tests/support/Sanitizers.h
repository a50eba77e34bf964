#pragma once

// Whether this build runs under AddressSanitizer. Its allocator holds freed blocks back in a
// quarantine, so a process's peak memory there grows with what it ever allocated: the
// peak-memory checks only mean something in an ordinary build.
#if defined(__SANITIZE_ADDRESS__)
#define RVT_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RVT_UNDER_ASAN 1
#endif
#endif

#ifdef RVT_UNDER_ASAN
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif
