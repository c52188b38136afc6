// Clears the vector registers on the way out of a kernel. They keep round
// state, round keys and plaintext after the kernel returns, and the C
// library's lazy binding of a function called for the first time saves
// every vector register to the stack, where a later scan would find them
// (the callers scrub the stack below them, but a binding made by their
// caller's later calls lies outside that). The portable kernels, which keep
// their state in general registers, have nothing to clear here.
#ifndef CORVANE_DES_REGISTERS_H
#define CORVANE_DES_REGISTERS_H

#if defined(__AVX__)
#include <immintrin.h>
#endif

namespace corvane::des {
namespace {

// Whether this file's build has vector registers to clear.
#if defined(__AVX__)
inline constexpr bool kClearsRegisters = true;
#else
inline constexpr bool kClearsRegisters = false;
#endif

inline void clearVectorRegisters() {
#if defined(__AVX__)
    _mm256_zeroall();
#endif
#if defined(__AVX512F__)
    __asm__ volatile(
        "vpxord %%zmm16, %%zmm16, %%zmm16\n\tvpxord %%zmm17, %%zmm17, %%zmm17\n\t"
        "vpxord %%zmm18, %%zmm18, %%zmm18\n\tvpxord %%zmm19, %%zmm19, %%zmm19\n\t"
        "vpxord %%zmm20, %%zmm20, %%zmm20\n\tvpxord %%zmm21, %%zmm21, %%zmm21\n\t"
        "vpxord %%zmm22, %%zmm22, %%zmm22\n\tvpxord %%zmm23, %%zmm23, %%zmm23\n\t"
        "vpxord %%zmm24, %%zmm24, %%zmm24\n\tvpxord %%zmm25, %%zmm25, %%zmm25\n\t"
        "vpxord %%zmm26, %%zmm26, %%zmm26\n\tvpxord %%zmm27, %%zmm27, %%zmm27\n\t"
        "vpxord %%zmm28, %%zmm28, %%zmm28\n\tvpxord %%zmm29, %%zmm29, %%zmm29\n\t"
        "vpxord %%zmm30, %%zmm30, %%zmm30\n\tvpxord %%zmm31, %%zmm31, %%zmm31"
        :
        :
        : "xmm16", "xmm17", "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24", "xmm25", "xmm26",
          "xmm27", "xmm28", "xmm29", "xmm30", "xmm31");
#endif
}

}  // namespace
}  // namespace corvane::des

#endif  // CORVANE_DES_REGISTERS_H
