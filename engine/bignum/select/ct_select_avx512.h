// Constant-time table reads with AVX-512: the same result as ct::lookup,
// eight words at a time. Chosen at run time through corvane::cpu_features()
// (CORVANE_CPU=portable or avx2 turns it off); present in 64-bit-word
// builds on x86-64 (CORVANE_ENGINE_HAS_AVX512_SELECT).
#ifndef CORVANE_ENGINE_CT_SELECT_AVX512_H
#define CORVANE_ENGINE_CT_SELECT_AVX512_H

#include <cstddef>

#include "engine/bignum/word.h"

#if defined(__x86_64__) && !defined(CORVANE_ENGINE_WORD32) && (defined(__GNUC__) || defined(__clang__))
#define CORVANE_ENGINE_HAS_AVX512_SELECT 1
#else
#define CORVANE_ENGINE_HAS_AVX512_SELECT 0
#endif

namespace corvane::engine {

// Whether selectAvx512 is built in and the CPU (as capped by CORVANE_CPU)
// has AVX-512F with the OS saving its state.
bool avx512SelectAvailable() noexcept;

// out[0..n) = words 0..n-1 of entry `index` of a table of `count` entries
// that start `stride` words apart (stride >= n, n <= 24). Every word of
// every entry is read, and each is kept or dropped under a mask.
void selectAvx512(Word* out, const Word* table, std::size_t count, std::size_t stride, std::size_t n,
                  Word index) noexcept;

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_CT_SELECT_AVX512_H
