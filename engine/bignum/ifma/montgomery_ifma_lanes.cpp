// The lane-parallel exponentiation (montgomery_ifma_lanes_kernel.h) on
// AVX-512 IFMA. The kernel's text is compiled here under a target pragma
// rather than the whole file with AVX-512 flags: the engine's shared inline
// helpers (limbs.h, exponent.h) are included before it and stay plain
// x86-64 code, so the linker cannot keep an AVX-512 copy of them for other
// callers.
#include "engine/bignum/ifma/montgomery_ifma_lanes.h"

#include <Corvane/nn.h>

#include <cstddef>
#include <cstdint>

#include "engine/bignum/exponent.h"
#include "engine/bignum/limbs.h"
#include "engine/bignum/montgomery.h"
#include "engine/bignum/word.h"
#include "platform/secure_zero.h"

#if CORVANE_ENGINE_HAS_IFMA
#include <immintrin.h>

// GCC 12 reports the deliberately undefined source vector inside its own
// AVX-512 intrinsics (_mm512_undefined_epi32) once they are inlined here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx512ifma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx512ifma")
#endif

#include "engine/bignum/ifma/montgomery_ifma_lanes_kernel.h"

namespace corvane::engine {
namespace {

static_assert(kIfmaMaxLanes == 2 * kLanesPerVector);

// Eight 64-bit lanes in a zmm register.
struct IfmaVec {
    using V = __m512i;
    static inline __attribute__((always_inline)) V zero() { return _mm512_setzero_si512(); }
    static inline __attribute__((always_inline)) V broadcast(std::uint64_t x) {
        return _mm512_set1_epi64(static_cast<long long>(x));
    }
    static inline __attribute__((always_inline)) V load(const std::uint64_t* p) { return _mm512_load_si512(p); }
    static inline __attribute__((always_inline)) void store(std::uint64_t* p, V x) { _mm512_store_si512(p, x); }
    static inline __attribute__((always_inline)) V add(V a, V b) { return _mm512_add_epi64(a, b); }
    // The bits of each lane above its 52-bit digit, and the digit alone.
    static inline __attribute__((always_inline)) V shiftDigit(V x) { return _mm512_srli_epi64(x, kLaneDigitBits); }
    static inline __attribute__((always_inline)) V lowDigit(V x) {
        return _mm512_and_si512(x, broadcast(kLaneDigitMask));
    }
    // acc + the low (high) 52 bits of the products of the lanes' low 52 bits.
    static inline __attribute__((always_inline)) V madd52lo(V acc, V a, V b) {
        return _mm512_madd52lo_epu64(acc, a, b);
    }
    static inline __attribute__((always_inline)) V madd52hi(V acc, V a, V b) {
        return _mm512_madd52hi_epu64(acc, a, b);
    }
    // x in the lanes where wanted equals entry, out elsewhere.
    static inline __attribute__((always_inline)) V takeWhereEqual(V out, V wanted, V entry, V x) {
        // Kept in a register: folded into a load under the mask, the read
        // of an entry could depend on the index.
        __asm__("" : "+v"(x));
        return _mm512_mask_mov_epi64(out, _mm512_cmpeq_epi64_mask(wanted, entry), x);
    }
};

}  // namespace

void modExpLanesIfma(std::size_t lanes, const MontModulus* const* mods, Word* const* x, const NN_DIGIT* const* e,
                     std::size_t digits, const IfmaPairConstants* const* cached) noexcept {
    if (lanes == 0 || lanes > kIfmaMaxLanes) return;
    laneDispatch(mods[0]->n, lanes, [&]<std::size_t L, std::size_t G>() {
        laneModExpWords<IfmaVec, L, G>(lanes, mods, x, e, digits, cached);
    });
}

void modExpLanesPublicExponentIfma(std::size_t lanes, const MontModulus* const* mods, Word* const* x,
                                   const NN_DIGIT* e, std::size_t eDigits,
                                   const IfmaPairConstants* const* cached) noexcept {
    if (lanes == 0 || lanes > kIfmaMaxLanes || eDigits == 0) return;
    laneDispatch(mods[0]->n, lanes, [&]<std::size_t L, std::size_t G>() {
        lanePublicExponentWords<IfmaVec, L, G>(lanes, mods, x, e, eDigits, cached);
    });
}

void reduceLanesIfma(std::size_t lanes, const MontModulus* const* mods, const Word* const* in, Word* const* out,
                     const IfmaPairConstants* const* cached) noexcept {
    if (lanes == 0 || lanes > kIfmaMaxLanes) return;
    laneDispatch(mods[0]->n, lanes, [&]<std::size_t L, std::size_t G>() {
        laneReduceWords<IfmaVec, L, G>(lanes, mods, in, out, cached);
    });
}

}  // namespace corvane::engine

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#else

namespace corvane::engine {

void modExpLanesIfma(std::size_t, const MontModulus* const*, Word* const*, const NN_DIGIT* const*, std::size_t,
                     const IfmaPairConstants* const*) noexcept {}
void modExpLanesPublicExponentIfma(std::size_t, const MontModulus* const*, Word* const*, const NN_DIGIT*,
                                   std::size_t, const IfmaPairConstants* const*) noexcept {}
void reduceLanesIfma(std::size_t, const MontModulus* const*, const Word* const*, Word* const*,
                     const IfmaPairConstants* const*) noexcept {}

}  // namespace corvane::engine

#endif

namespace corvane::engine {

bool ifmaLanesRun(std::size_t n) noexcept { return ifmaCovers(n) && ifmaAvailable(); }

}  // namespace corvane::engine
