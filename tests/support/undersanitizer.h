#pragma once

// Whether this build runs under AddressSanitizer, which GCC tells by a macro and clang by a
// feature test: bounds that tell a wait from none are wider there.
namespace testsupport {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool underSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool underSanitizer = true;
#else
inline constexpr bool underSanitizer = false;
#endif
#else
inline constexpr bool underSanitizer = false;
#endif

} // namespace testsupport
