// The least time the lane-parallel exponentiation of RSA batches can take on
// this CPU: the count of IFMA multiply-adds its Montgomery products contain,
// issued as independent chains with nothing else around them. A benchmark
// row running it says how far the kernel (or a whole batch built on it) is
// from what its multiplications alone cost.
#ifndef CORVANE_BENCH_IFMA_FLOOR_H
#define CORVANE_BENCH_IFMA_FLOOR_H

#include <benchmark/benchmark.h>

#include <cstddef>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

namespace corvane_bench {

// The multiply-adds of one exponentiation call on `count` lanes of moduli
// of n 64-bit words with exponents of 64n bits: per group of eight lanes,
// the products of the fixed window of 4 bits (the table: 7 squarings and 9
// products with the conversions; then 4 squarings and a product per further
// window), L digits of 52 bits each; a squaring takes L(L-1) for the cross
// products, 2L for the squares, L + 2L^2 for the reduction; a product
// 4L^2 + L.
inline std::size_t laneDigits(std::size_t n) { return (64 * n + 2 + 51) / 52; }
inline std::size_t squaringMultiplyAdds(std::size_t digits) {
    return digits * (digits - 1) + 3 * digits + 2 * digits * digits;
}
inline std::size_t productMultiplyAdds(std::size_t digits) { return 4 * digits * digits + digits; }

inline std::size_t laneMultiplyAdds(std::size_t n, std::size_t count) {
    const std::size_t digits = laneDigits(n), windows = (64 * n + 3) / 4;
    const std::size_t groups = (count + 7) / 8;
    return groups * ((7 + 4 * (windows - 1)) * squaringMultiplyAdds(digits) +
                     (10 + windows - 1) * productMultiplyAdds(digits));
}

// The multiply-adds of the check of eight results modulo an n-word modulus
// by the public exponent 65537 in one group of lanes: 16 squarings, one
// product for the exponent's low bit and two for the conversions.
inline std::size_t publicCheckMultiplyAdds(std::size_t n) {
    const std::size_t digits = laneDigits(n);
    return 16 * squaringMultiplyAdds(digits) + 3 * productMultiplyAdds(digits);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// `count` multiply-adds on 512-bit vectors in 16 independent chains, enough
// to keep every IFMA unit busy whatever its latency. Only where the CPU has
// AVX-512 IFMA.
__attribute__((target("avx512f,avx512ifma"), noinline)) inline void multiplyAdds(std::size_t count) {
    __m512i chain[16];
    const __m512i a = _mm512_set1_epi64(0x123456789), b = _mm512_set1_epi64(0x987654321);
    for (auto& c : chain) c = _mm512_setzero_si512();
    for (std::size_t i = 0; i < count / 16; i++) {
#pragma GCC unroll 16
        for (auto& c : chain) c = _mm512_madd52lo_epu64(c, a, b);
    }
    for (auto& c : chain) benchmark::DoNotOptimize(c);
}

inline bool multiplyAddsRun() { return __builtin_cpu_supports("avx512ifma") != 0; }
#else
inline void multiplyAdds(std::size_t) {}
inline bool multiplyAddsRun() { return false; }
#endif

}  // namespace corvane_bench

#endif  // CORVANE_BENCH_IFMA_FLOOR_H
