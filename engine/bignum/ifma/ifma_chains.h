// Montgomery products on 52-bit digits with AVX-512 IFMA, shared by the
// paired exponentiation of the private operation (two chains, one per
// prime: montgomery_ifma.cpp) and the public exponentiation (one chain:
// montgomery_ifma_public.cpp): the digits in memory and in registers, the
// carry normalisation, and the product itself for one or two independent
// chains.
//
// In an unnamed namespace, as digits52.h: each kernel file gets its own
// copy, and the vector code carries its own target attribute, so nothing
// compiled for AVX-512 can stand in for code that runs elsewhere. Include
// it only where CORVANE_ENGINE_HAS_IFMA is set.
#ifndef CORVANE_ENGINE_IFMA_CHAINS_H
#define CORVANE_ENGINE_IFMA_CHAINS_H

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "engine/bignum/ifma/digits52.h"
#include "engine/bignum/limbs.h"
#include "engine/bignum/word.h"

// GCC 12 reports the deliberately undefined source vector inside its own
// AVX-512 intrinsics (_mm512_undefined_epi32) once they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define CORVANE_IFMA_TARGET __attribute__((target("avx512f,avx512bw,avx512ifma")))

namespace corvane::engine {
namespace {

// A number as 52-bit digits, least significant first, one per 64-bit lane,
// in V vectors of eight lanes; lanes above the modulus's digit count are 0.
template <std::size_t V>
struct alignas(64) Digits {
    std::uint64_t d[8 * V];
};

template <std::size_t V>
void toDigits(Digits<V>& out, const Word* w, std::size_t n) {
    for (std::size_t j = 0; j < 8 * V; j++) out.d[j] = digit52Of(w, n, j);
}

// w (n words) = the low 64n bits of normalised digits x; returns the bits
// above them.
template <std::size_t V>
Word fromDigits(Word* w, std::size_t n, const Digits<V>& x) {
    for (std::size_t i = 0; i < n; i++) w[i] = wordOfDigits(x.d, 8 * V, i);
    return wordOfDigits(x.d, 8 * V, n);
}

// A number of Digits<V> held in registers. The chains of products keep
// their values here: a product that read its operand back from memory just
// after the previous one stored it would wait for the store (a wide store
// does not forward to the narrow loads of single digits).
template <std::size_t V>
struct Lanes {
    __m512i v[V];
};

template <std::size_t V>
CORVANE_IFMA_TARGET inline Lanes<V> load(const Digits<V>& d) {
    Lanes<V> x;
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) x.v[v] = _mm512_load_si512(d.d + 8 * v);
    return x;
}

template <std::size_t V>
CORVANE_IFMA_TARGET inline void store(Digits<V>& d, const Lanes<V>& x) {
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) _mm512_store_si512(d.d + 8 * v, x.v[v]);
}

// Lane 0 of x in every lane.
CORVANE_IFMA_TARGET inline __m512i broadcastLowest(__m512i x) {
    return _mm512_broadcastq_epi64(_mm512_castsi512_si128(x));
}

// Digit i of x in every lane (digit 0 by the shorter broadcast).
template <std::size_t V>
CORVANE_IFMA_TARGET inline __m512i broadcastDigit(const Lanes<V>& x, std::size_t i) {
    if (i == 0) return broadcastLowest(x.v[0]);
    return _mm512_permutexvar_epi64(_mm512_set1_epi64(static_cast<long long>(i % 8)), x.v[i / 8]);
}

// Brings every lane below 2^52 without changing the value, which must be
// below 2^(52 * 8V). First every lane passes its bits above 52 to the next
// lane; then at most a single carry leaves a lane, and where it arrives (and
// ripples through lanes of all ones) is found by one addition on the
// lanes' mask bits, as in a carry-lookahead adder, without branches. The
// masks stay in the mask registers: a trip through the general registers
// and back would add to every product's latency.
template <std::size_t V>
CORVANE_IFMA_TARGET inline void normalise(__m512i (&x)[V]) {
    static_assert(V >= 1 && V <= 3);
    const __m512i mask = _mm512_set1_epi64(static_cast<long long>(kDigit52Mask));
    __m512i carry[V];
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) {
        carry[v] = _mm512_srli_epi64(x[v], kDigit52Bits);
        x[v] = _mm512_and_si512(x[v], mask);
    }
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) {
        const __m512i below = v == 0 ? _mm512_setzero_si512() : carry[v - 1];
        x[v] = _mm512_add_epi64(x[v], _mm512_alignr_epi64(carry[v], below, 7));
    }
    // One bit per lane, lane 8v + j at bit 8v + j.
    const __mmask8 generate0 = _mm512_cmpgt_epu64_mask(x[0], mask), propagate0 = _mm512_cmpeq_epu64_mask(x[0], mask);
    __mmask32 generate = generate0, propagate = propagate0;
    if constexpr (V >= 2) {
        generate = _mm512_kunpackb(_mm512_cmpgt_epu64_mask(x[1], mask), generate0);
        propagate = _mm512_kunpackb(_mm512_cmpeq_epu64_mask(x[1], mask), propagate0);
        if constexpr (V == 3) {
            generate = _mm512_kunpackw(_mm512_cmpgt_epu64_mask(x[2], mask), generate);
            propagate = _mm512_kunpackw(_mm512_cmpeq_epu64_mask(x[2], mask), propagate);
        }
    }
    const __mmask32 carryIn =
        _kxor_mask32(_kadd_mask32(_kshiftli_mask32(generate, 1), propagate), propagate);
    // Each vector's eight bits, by shifts with literal counts (the
    // instruction takes its count as an immediate).
    const __mmask8 take[3] = {static_cast<__mmask8>(carryIn),
                              static_cast<__mmask8>(_kshiftri_mask32(carryIn, 8)),
                              static_cast<__mmask8>(_kshiftri_mask32(carryIn, 16))};
    const __m512i one = _mm512_set1_epi64(1);
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++)
        x[v] = _mm512_and_si512(_mm512_mask_add_epi64(x[v], take[v], x[v], one), mask);
}

// A modulus in registers: its digits, the same moved down one digit, and
// in every lane -m^-1 mod 2^52 and digits 0 and 1.
template <std::size_t V>
struct ModulusLanes {
    Lanes<V> m, mDown;
    __m512i k0, m0, m1;
};

// The registers of the modulus whose digits are m and whose -m^-1 mod 2^64
// is m0inv.
template <std::size_t V>
CORVANE_IFMA_TARGET inline ModulusLanes<V> modulusLanes(const Digits<V>& m, Word m0inv) {
    ModulusLanes<V> md;
    md.m = load(m);
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++)
        md.mDown.v[v] = _mm512_alignr_epi64(v + 1 < V ? md.m.v[v + 1] : _mm512_setzero_si512(), md.m.v[v], 1);
    md.k0 = _mm512_set1_epi64(static_cast<long long>(m0inv & kDigit52Mask));
    md.m0 = _mm512_set1_epi64(static_cast<long long>(m.d[0]));
    md.m1 = _mm512_set1_epi64(static_cast<long long>(m.d[1]));
    return md;
}

// r[c] = a[c] * b[c] / 2^(52L) mod m[c] for each of C independent chains
// (residues below 2m, results below 2m), L digits. Operand scanning: for
// each digit b[i], acc += a * b[i] + m * q with q chosen so that the lowest
// digit vanishes, then acc moves down one digit.
//
// What limits the speed is the chain from one q to the next, so it is kept
// inside the vector registers (a move to a general register and back costs
// more than the multiply it feeds) and free of lane moves:
// - the lowest digit t of acc is also kept in every lane of tLanes, so q is
//   one multiply-add away (t * -m^-1; only t's low 52 bits count, so the
//   digits need not be normalised);
// - acc itself never waits for q before it moves: step i adds to the moved
//   acc the high halves of m * q, and to y the low halves of m * q taken
//   from m moved down one digit, side by side, then sums the two; y holds
//   the terms of a * b that land on the same digits (high halves for b[i],
//   low halves for b[i+1]) and the carry out of the vanishing digit t
//   (t + lo(m0 q) is t rounded up to a multiple of 2^52, whatever q is).
//   acc's lane 1, which the t after next reads, is then one multiply-add
//   and an addition behind q, not two multiply-adds (about 5% less time
//   per product than adding the halves in turn, measured at 4 to 8 words on
//   Zen 5);
// - the next t is the same sum for lane 0 alone, computed in every lane
//   from the broadcast digits m0, m1, y's lane 0 and acc's lane 1.
// So the chain from t to the next t is the multiply-add for q, one for
// m * q, and an addition. With two chains, each fills the other's waits
// (measured on Zen 5 at 8 words, one product alone takes about 200 cycles
// and the pair about 225: latency, not the multipliers, is still what
// bounds it, a sixth of it the final normalisation). r may alias a or b.
template <std::size_t C, std::size_t V, std::size_t L>
CORVANE_IFMA_TARGET __attribute__((always_inline)) inline void mulChains(Lanes<V> (&r)[C],
                                                                         const Lanes<V> (&a)[C],
                                                                         const Lanes<V> (&b)[C],
                                                                         const ModulusLanes<V> (&mod)[C]) {
    static_assert(L >= 2 && L <= 8 * V && 8 * V < L + 8);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i roundUp = _mm512_set1_epi64(static_cast<long long>(kDigit52Mask));
    const __m512i laneOne = _mm512_set1_epi64(1);
    __m512i acc[C][V], y[C][V], tLanes[C], bNext[C];
    CORVANE_UNROLL
    for (std::size_t c = 0; c < C; c++) {
        const __m512i b0 = broadcastDigit(b[c], 0);
        bNext[c] = broadcastDigit(b[c], 1);
        CORVANE_UNROLL
        for (std::size_t v = 0; v < V; v++) {
            acc[c][v] = _mm512_madd52lo_epu64(zero, a[c].v[v], b0);
            y[c][v] = _mm512_madd52lo_epu64(_mm512_madd52hi_epu64(zero, a[c].v[v], b0), a[c].v[v], bNext[c]);
        }
        // t from the broadcast lowest digits rather than from acc: fewer
        // lane moves before the first q.
        tLanes[c] = _mm512_madd52lo_epu64(zero, broadcastLowest(a[c].v[0]), b0);
    }

    CORVANE_UNROLL
    for (std::size_t i = 0; i < L; i++) {
        CORVANE_UNROLL
        for (std::size_t c = 0; c < C; c++) {
            const ModulusLanes<V>& md = mod[c];
            const __m512i q = _mm512_madd52lo_epu64(zero, tLanes[c], md.k0);
            const __m512i carry = _mm512_srli_epi64(_mm512_add_epi64(tLanes[c], roundUp), kDigit52Bits);
            const bool last = i + 1 == L;
            if (!last) {
                // The next t: acc's lane 1 and lane 0 of what joins it.
                const __m512i yLow = _mm512_add_epi64(broadcastLowest(y[c][0]), carry);
                const __m512i accNext = _mm512_permutexvar_epi64(laneOne, acc[c][0]);
                tLanes[c] = _mm512_add_epi64(_mm512_madd52lo_epu64(yLow, md.m1, q),
                                             _mm512_madd52hi_epu64(accNext, md.m0, q));
            }
            y[c][0] = _mm512_mask_add_epi64(y[c][0], 1, y[c][0], carry);
            CORVANE_UNROLL
            for (std::size_t v = 0; v < V; v++) {
                const __m512i low = _mm512_madd52lo_epu64(y[c][v], md.mDown.v[v], q);
                const __m512i moved = _mm512_alignr_epi64(v + 1 < V ? acc[c][v + 1] : zero, acc[c][v], 1);
                acc[c][v] = _mm512_add_epi64(_mm512_madd52hi_epu64(moved, md.m.v[v], q), low);
            }
            if (!last) {
                const __m512i bAfter = i + 2 < L ? broadcastDigit(b[c], i + 2) : zero;
                CORVANE_UNROLL
                for (std::size_t v = 0; v < V; v++) {
                    y[c][v] = _mm512_madd52hi_epu64(zero, a[c].v[v], bNext[c]);
                    if (i + 2 < L) y[c][v] = _mm512_madd52lo_epu64(y[c][v], a[c].v[v], bAfter);
                }
                bNext[c] = bAfter;
            }
        }
    }
    CORVANE_UNROLL
    for (std::size_t c = 0; c < C; c++) {
        normalise(acc[c]);
        for (std::size_t v = 0; v < V; v++) r[c].v[v] = acc[c][v];
    }
}

// The carry normalisation alone on 8V digits in memory (for the tests).
template <std::size_t V>
CORVANE_IFMA_TARGET void normaliseStored(std::uint64_t* digits) {
    __m512i x[V];
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) x[v] = _mm512_loadu_si512(digits + 8 * v);
    normalise(x);
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) _mm512_storeu_si512(digits + 8 * v, x[v]);
}

}  // namespace
}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_IFMA_CHAINS_H
