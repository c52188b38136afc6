// The one wipe used for every piece of secret material in the library.
// A plain memset before a buffer dies may be removed by the optimiser as a
// dead store; these calls are specified (or built) so that it cannot be.
#ifndef CORVANE_SECURE_ZERO_H
#define CORVANE_SECURE_ZERO_H

#include <cstddef>
#include <cstring>

#if defined(__APPLE__)
#define __STDC_WANT_LIB_EXT1__ 1
#endif
#include <string.h>

namespace corvane {

inline void secure_zero(void* p, std::size_t n) noexcept {
    if (p == nullptr || n == 0) return;
#if defined(__GLIBC__) || defined(__OpenBSD__) || defined(__FreeBSD__)
    explicit_bzero(p, n);
#elif defined(__APPLE__)
    memset_s(p, n, 0, n);
#else
    volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
    while (n--) *v++ = 0;
#endif
}

// Wipes a whole object or array in place.
template <typename T>
inline void secure_zero_object(T& object) noexcept {
    secure_zero(&object, sizeof object);
}

}  // namespace corvane

#endif  // CORVANE_SECURE_ZERO_H
