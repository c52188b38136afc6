// Compiled with -mavx2 (CMakeLists.txt); only reached when
// avx2SelectAvailable() says the CPU has it.
#include "engine/bignum/select/ct_select_avx2.h"

#include "engine/cpu/cpu.h"

#if CORVANE_ENGINE_HAS_AVX2_SELECT
#include <immintrin.h>
#endif

namespace corvane::engine {

#if CORVANE_ENGINE_HAS_AVX2_SELECT

namespace {

// The vector loops have a fixed trip count V; unrolled, the accumulators
// stay in registers.
#if defined(__clang__)
#define CORVANE_UNROLL_VECTORS _Pragma("unroll")
#else
#define CORVANE_UNROLL_VECTORS _Pragma("GCC unroll 8")
#endif

// V vectors of four words; when Tail, the last vector is loaded and stored
// only in its first `tail` lanes (1 to 3) so that nothing past an entry is
// touched.
template <std::size_t V, bool Tail>
void select(Word* out, const Word* table, std::size_t count, std::size_t stride, std::size_t tail,
            Word index) noexcept {
    const __m256i lanes = _mm256_setr_epi64x(0, 1, 2, 3);
    const __m256i tailMask = _mm256_cmpgt_epi64(_mm256_set1_epi64x(static_cast<long long>(tail)), lanes);
    const __m256i wanted = _mm256_set1_epi64x(static_cast<long long>(index));
    const __m256i one = _mm256_set1_epi64x(1);
    __m256i position = _mm256_setzero_si256();
    __m256i acc[V];
    CORVANE_UNROLL_VECTORS
    for (std::size_t v = 0; v < V; v++) acc[v] = _mm256_setzero_si256();
    for (std::size_t e = 0; e < count; e++, position = _mm256_add_epi64(position, one)) {
        const __m256i mask = _mm256_cmpeq_epi64(position, wanted);
        const Word* entry = table + e * stride;
        CORVANE_UNROLL_VECTORS
        for (std::size_t v = 0; v < V; v++) {
            const __m256i x =
                Tail && v + 1 == V
                    ? _mm256_maskload_epi64(reinterpret_cast<const long long*>(entry + 4 * v), tailMask)
                    : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(entry + 4 * v));
            acc[v] = _mm256_or_si256(acc[v], _mm256_and_si256(x, mask));
        }
    }
    CORVANE_UNROLL_VECTORS
    for (std::size_t v = 0; v < V; v++) {
        if (Tail && v + 1 == V)
            _mm256_maskstore_epi64(reinterpret_cast<long long*>(out + 4 * v), tailMask, acc[v]);
        else
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * v), acc[v]);
    }
}

template <std::size_t V>
void select(Word* out, const Word* table, std::size_t count, std::size_t stride, std::size_t tail,
            Word index) noexcept {
    if (tail == 4)
        select<V, false>(out, table, count, stride, tail, index);
    else
        select<V, true>(out, table, count, stride, tail, index);
}

}  // namespace

bool avx2SelectAvailable() noexcept { return cpu_features().avx2; }

void selectAvx2(Word* out, const Word* table, std::size_t count, std::size_t stride, std::size_t n,
                Word index) noexcept {
    const std::size_t tail = n - 4 * ((n - 1) / 4);
    switch ((n + 3) / 4) {
        case 1:
            return select<1>(out, table, count, stride, tail, index);
        case 2:
            return select<2>(out, table, count, stride, tail, index);
        case 3:
            return select<3>(out, table, count, stride, tail, index);
        case 4:
            return select<4>(out, table, count, stride, tail, index);
        default:
            return select<5>(out, table, count, stride, tail, index);
    }
}

#else

bool avx2SelectAvailable() noexcept { return false; }

void selectAvx2(Word*, const Word*, std::size_t, std::size_t, std::size_t, Word) noexcept {}

#endif

}  // namespace corvane::engine
