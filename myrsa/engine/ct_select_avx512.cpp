// Compiled with -mavx512f (CMakeLists.txt); only reached when
// avx512SelectAvailable() says the CPU and the OS have it.
#include "engine/ct_select_avx512.h"

#include "cpu.h"

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

}  // namespace

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

#endif

}  // namespace corvane::engine
