// Compiled with -mavx512f (CMakeLists.txt); only reached when
// avx512SelectAvailable() says the CPU and the OS have it.
#include "engine/bignum/select/ct_select_avx512.h"

#include "engine/bignum/select/ct_select_pair.h"

#include "engine/cpu/cpu.h"

#if CORVANE_ENGINE_HAS_AVX512_SELECT
#include <immintrin.h>
#endif

namespace corvane::engine {

#if CORVANE_ENGINE_HAS_AVX512_SELECT

namespace {

#if defined(__clang__)
#define CORVANE_UNROLL_VECTORS _Pragma("unroll")
#else
#define CORVANE_UNROLL_VECTORS _Pragma("GCC unroll 4")
#endif

// V vectors of eight words, the last one loaded and stored only in its
// first lanes (the lanes of `tail`) so that nothing past an entry is
// touched. The entry whose number equals the index is merged in under a
// lane mask; every entry is loaded.
template <std::size_t V>
void select(Word* out, const Word* table, std::size_t count, std::size_t stride, __mmask8 tail,
            Word index) noexcept {
    const __m512i wanted = _mm512_set1_epi64(static_cast<long long>(index));
    const __m512i one = _mm512_set1_epi64(1);
    __m512i position = _mm512_setzero_si512();
    __m512i acc[V];
    CORVANE_UNROLL_VECTORS
    for (std::size_t v = 0; v < V; v++) acc[v] = _mm512_setzero_si512();
    for (std::size_t e = 0; e < count; e++, position = _mm512_add_epi64(position, one)) {
        const __mmask8 take = _mm512_cmpeq_epi64_mask(position, wanted);
        const Word* entry = table + e * stride;
        CORVANE_UNROLL_VECTORS
        for (std::size_t v = 0; v < V; v++) {
            const __mmask8 lanes = v + 1 == V ? tail : static_cast<__mmask8>(0xFF);
            __m512i x = _mm512_maskz_loadu_epi64(lanes, entry + 8 * v);
            // Kept apart from the merge: folded into one load under the
            // index's mask, the read of an entry could depend on the index.
            __asm__("" : "+v"(x));
            acc[v] = _mm512_mask_mov_epi64(acc[v], take, x);
        }
    }
    CORVANE_UNROLL_VECTORS
    for (std::size_t v = 0; v < V; v++) {
        const __mmask8 lanes = v + 1 == V ? tail : static_cast<__mmask8>(0xFF);
        _mm512_mask_storeu_epi64(out + 8 * v, lanes, acc[v]);
    }
}

// Lanes 0..lanes-1 of a vector (lanes may exceed 8).
__mmask8 lowLanes(std::size_t lanes) noexcept {
    return lanes >= 8 ? static_cast<__mmask8>(0xFF) : static_cast<__mmask8>((1u << lanes) - 1u);
}

// The joint read of a pair table: V vectors cover a row's 2n words; word w
// of a row belongs to the first table for w < n, else to the second, and
// its lane compares the row number with that table's index.
template <std::size_t V>
void selectPair(Word* outP, Word* outQ, const Word* table, std::size_t count, std::size_t stride, std::size_t n,
                Word indexP, Word indexQ) noexcept {
    const __m512i first = _mm512_set1_epi64(static_cast<long long>(indexP));
    const __m512i one = _mm512_set1_epi64(1);
    __m512i wanted[V], acc[V];
    __mmask8 lanes[V];
    CORVANE_UNROLL_VECTORS
    for (std::size_t v = 0; v < V; v++) {
        const std::size_t firstWords = n > 8 * v ? n - 8 * v : 0;  // lanes of the first table
        const auto second = static_cast<__mmask8>(~lowLanes(firstWords));
        wanted[v] = _mm512_mask_set1_epi64(first, second, static_cast<long long>(indexQ));
        lanes[v] = lowLanes(2 * n - 8 * v);
        acc[v] = _mm512_setzero_si512();
    }
    __m512i position = _mm512_setzero_si512();
    for (std::size_t e = 0; e < count; e++, position = _mm512_add_epi64(position, one)) {
        const Word* row = table + e * stride;
        CORVANE_UNROLL_VECTORS
        for (std::size_t v = 0; v < V; v++) {
            const __mmask8 take = _mm512_cmpeq_epi64_mask(position, wanted[v]);
            __m512i x = _mm512_maskz_loadu_epi64(lanes[v], row + 8 * v);
            // As in select: the load stays apart from the merge.
            __asm__("" : "+v"(x));
            acc[v] = _mm512_mask_mov_epi64(acc[v], take, x);
        }
    }
    // Words 0..n-1 are the first entry as they lie; words n..2n-1 move down
    // n lanes, taken from the two vectors they straddle (vector u + n / 8
    // and the next). Every vector index is a constant once the loop is
    // unrolled, so that acc stays in registers.
    const __m512i zero = _mm512_setzero_si512();
    const __m512i shifted = _mm512_add_epi64(_mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7),
                                             _mm512_set1_epi64(static_cast<long long>(n % 8)));
    const bool far = n >= 8;
    CORVANE_UNROLL_VECTORS
    for (std::size_t u = 0; u < V; u++) {
        if (8 * u >= n) break;
        const __mmask8 out = lowLanes(n - 8 * u);
        _mm512_mask_storeu_epi64(outP + 8 * u, out, acc[u]);
        const __m512i next = u + 1 < V ? acc[u + 1 < V ? u + 1 : 0] : zero;
        const __m512i afterNext = u + 2 < V ? acc[u + 2 < V ? u + 2 : 0] : zero;
        const __m512i low = far ? next : acc[u], high = far ? afterNext : next;
        _mm512_mask_storeu_epi64(outQ + 8 * u, out, _mm512_permutex2var_epi64(low, shifted, high));
    }
}

}  // namespace

void selectPairAvx512(Word* outP, Word* outQ, const Word* table, std::size_t count, std::size_t stride,
                      std::size_t n, Word indexP, Word indexQ) noexcept {
    switch ((2 * n + 7) / 8) {
        case 1:
            return selectPair<1>(outP, outQ, table, count, stride, n, indexP, indexQ);
        case 2:
            return selectPair<2>(outP, outQ, table, count, stride, n, indexP, indexQ);
        default:
            return selectPair<3>(outP, outQ, table, count, stride, n, indexP, indexQ);
    }
}

bool avx512SelectAvailable() noexcept { return cpu_features().avx512f; }

void selectAvx512(Word* out, const Word* table, std::size_t count, std::size_t stride, std::size_t n,
                  Word index) noexcept {
    const std::size_t vectors = (n + 7) / 8;
    const auto tail = static_cast<__mmask8>(0xFFu >> (8 * vectors - n));
    switch (vectors) {
        case 1:
            return select<1>(out, table, count, stride, tail, index);
        case 2:
            return select<2>(out, table, count, stride, tail, index);
        default:
            return select<3>(out, table, count, stride, tail, index);
    }
}

#else

bool avx512SelectAvailable() noexcept { return false; }

void selectAvx512(Word*, const Word*, std::size_t, std::size_t, std::size_t, Word) noexcept {}

void selectPairAvx512(Word*, Word*, const Word*, std::size_t, std::size_t, std::size_t, Word, Word) noexcept {}

#endif

}  // namespace corvane::engine
