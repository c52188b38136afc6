// The vector code carries its own target attribute instead of the file
// being compiled for AVX-512: the inline helpers this file shares with the
// rest of the engine (limbs.h, exponent.h) must stay plain x86-64 code, or
// the linker could keep an AVX-512 copy of them for every caller.
#include "engine/montgomery_ifma.h"

#include <cstdint>

#include "cpu.h"
#include "engine/exponent.h"
#include "engine/limbs.h"
#include "secure_zero.h"

#if CORVANE_ENGINE_HAS_IFMA
#include <immintrin.h>
#endif

// GCC 12 reports the deliberately undefined source vector inside its own
// AVX-512 intrinsics (_mm512_undefined_epi32) once they are inlined here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace corvane::engine {

#if CORVANE_ENGINE_HAS_IFMA

#define CORVANE_IFMA_TARGET __attribute__((target("avx512f,avx512ifma")))

namespace {

constexpr unsigned kDigit52 = 52;
constexpr std::uint64_t kMask52 = (std::uint64_t{1} << kDigit52) - 1;

// A number as 52-bit digits, least significant first, one per 64-bit lane,
// in V vectors of eight lanes; lanes above the modulus's digit count are 0.
template <std::size_t V>
struct alignas(64) Digits {
    std::uint64_t d[8 * V];
};

// One modulus in this representation. Its residues are kept in Montgomery
// form for R = 2^(52L), not necessarily below m but below 2m: with 4m <= R a
// product of two such residues is again below 2m (it is below
// (2m)^2 / R + m), so no product needs a final subtraction; only the way out
// does.
template <std::size_t V>
struct Modulus52 {
    Digits<V> m;
    std::uint64_t k0 = 0;  // -m^-1 mod 2^52
    std::size_t digits = 0;
};

// L for an n-word modulus: the least digit count with 4m <= 2^(52L).
constexpr std::size_t digitsFor(std::size_t n) { return (kWordBits * n + 2 + kDigit52 - 1) / kDigit52; }

template <std::size_t V>
void toDigits(Digits<V>& out, const Word* w, std::size_t n) {
    for (std::size_t j = 0; j < 8 * V; j++) {
        const std::size_t bit = kDigit52 * j, i = bit / kWordBits;
        const unsigned shift = static_cast<unsigned>(bit % kWordBits);
        std::uint64_t x = i < n ? w[i] >> shift : 0;
        if (shift > kWordBits - kDigit52 && i + 1 < n) x |= w[i + 1] << (kWordBits - shift);
        out.d[j] = x & kMask52;
    }
}

// w (n words) = the low 64n bits of normalised digits x; returns the bits
// above them.
template <std::size_t V>
Word fromDigits(Word* w, std::size_t n, const Digits<V>& x) {
    Word top = 0;
    for (std::size_t i = 0; i <= n; i++) {
        Word word = 0;
        for (std::size_t j = 0; j < 8 * V; j++) {
            const std::size_t lo = kDigit52 * j, wordLo = kWordBits * i;
            if (lo >= wordLo + kWordBits || lo + kDigit52 <= wordLo) continue;  // public positions only
            word |= lo >= wordLo ? x.d[j] << (lo - wordLo) : x.d[j] >> (wordLo - lo);
        }
        if (i < n)
            w[i] = word;
        else
            top = word;
    }
    return top;
}

template <std::size_t V>
CORVANE_IFMA_TARGET inline void load(__m512i (&x)[V], const Digits<V>& d) {
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) x[v] = _mm512_load_si512(d.d + 8 * v);
}

// Brings every lane below 2^52 without changing the value, which must be
// below 2^(52 * 8V). First every lane passes its bits above 52 to the next
// lane; then at most a single carry leaves a lane, and where it arrives (and
// ripples through lanes of all ones) is found by one addition on the
// lanes' mask bits, as in a carry-lookahead adder, without branches.
template <std::size_t V>
CORVANE_IFMA_TARGET inline void normalise(__m512i (&x)[V]) {
    static_assert(V <= 4);
    const __m512i mask = _mm512_set1_epi64(static_cast<long long>(kMask52));
    __m512i carry[V];
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) {
        carry[v] = _mm512_srli_epi64(x[v], kDigit52);
        x[v] = _mm512_and_si512(x[v], mask);
    }
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) {
        const __m512i below = v == 0 ? _mm512_setzero_si512() : carry[v - 1];
        x[v] = _mm512_add_epi64(x[v], _mm512_alignr_epi64(carry[v], below, 7));
    }
    std::uint32_t generate = 0, propagate = 0;
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) {
        generate |= static_cast<std::uint32_t>(_mm512_cmpgt_epu64_mask(x[v], mask)) << (8 * v);
        propagate |= static_cast<std::uint32_t>(_mm512_cmpeq_epu64_mask(x[v], mask)) << (8 * v);
    }
    const std::uint32_t carryIn = ((generate << 1) + propagate) ^ propagate;
    const __m512i one = _mm512_set1_epi64(1);
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) {
        const __mmask8 take = static_cast<__mmask8>(carryIn >> (8 * v));
        x[v] = _mm512_and_si512(_mm512_mask_add_epi64(x[v], take, x[v], one), mask);
    }
}

// r0 = a0 * b0 / R mod m0 and r1 = a1 * b1 / R mod m1 (residues below 2m,
// results below 2m), the two chains advanced together. Operand scanning:
// for each digit b[i], acc += a * b[i] + m * q with q chosen so that the
// lowest digit vanishes, then acc moves down one digit. The low halves of
// the digit products stay in place and the high halves go in after the
// move; the lowest lane and the carry out of it are followed in scalar
// registers, so that q does not wait for the vector work. Results may alias
// operands.
template <std::size_t V>
CORVANE_IFMA_TARGET void mulPair(Digits<V>& r0, const Digits<V>& a0, const Digits<V>& b0,
                                 const Modulus52<V>& m0, Digits<V>& r1, const Digits<V>& a1,
                                 const Digits<V>& b1, const Modulus52<V>& m1) {
    const Digits<V>* b[2] = {&b0, &b1};
    const Modulus52<V>* mod[2] = {&m0, &m1};
    __m512i a[2][V], m[2][V], acc[2][V];
    load(a[0], a0);
    load(a[1], a1);
    load(m[0], m0.m);
    load(m[1], m1.m);
    std::uint64_t carry[2] = {0, 0};
    const std::uint64_t aLow[2] = {a0.d[0], a1.d[0]};
    const std::uint64_t mLow[2] = {m0.m.d[0], m1.m.d[0]};
    for (std::size_t c = 0; c < 2; c++)
        for (std::size_t v = 0; v < V; v++) acc[c][v] = _mm512_setzero_si512();

    const __m512i zero = _mm512_setzero_si512();
    const std::size_t digits = m0.digits;
    for (std::size_t i = 0; i < digits; i++) {
        CORVANE_UNROLL
        for (std::size_t c = 0; c < 2; c++) {
            const std::uint64_t bi = b[c]->d[i];
            // The lowest lane as it will be after adding a * b[i].
            const std::uint64_t low =
                static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm512_castsi512_si128(acc[c][0]))) + carry[c] +
                ((aLow[c] * bi) & kMask52);
            const std::uint64_t q = (low * mod[c]->k0) & kMask52;
            carry[c] = (low + ((mLow[c] * q) & kMask52)) >> kDigit52;

            const __m512i bv = _mm512_set1_epi64(static_cast<long long>(bi));
            const __m512i qv = _mm512_set1_epi64(static_cast<long long>(q));
            CORVANE_UNROLL
            for (std::size_t v = 0; v < V; v++) {
                acc[c][v] = _mm512_madd52lo_epu64(acc[c][v], a[c][v], bv);
                acc[c][v] = _mm512_madd52lo_epu64(acc[c][v], m[c][v], qv);
            }
            // Down one digit; the lowest lane's value lives on in carry.
            CORVANE_UNROLL
            for (std::size_t v = 0; v < V; v++)
                acc[c][v] = _mm512_alignr_epi64(v + 1 < V ? acc[c][v + 1] : zero, acc[c][v], 1);
            CORVANE_UNROLL
            for (std::size_t v = 0; v < V; v++) {
                acc[c][v] = _mm512_madd52hi_epu64(acc[c][v], a[c][v], bv);
                acc[c][v] = _mm512_madd52hi_epu64(acc[c][v], m[c][v], qv);
            }
        }
    }
    Digits<V>* r[2] = {&r0, &r1};
    for (std::size_t c = 0; c < 2; c++) {
        acc[c][0] = _mm512_mask_add_epi64(acc[c][0], 1, acc[c][0],
                                          _mm512_set1_epi64(static_cast<long long>(carry[c])));
        normalise(acc[c]);
        for (std::size_t v = 0; v < V; v++) _mm512_store_si512(r[c]->d + 8 * v, acc[c][v]);
    }
}

// out = table[index] of `count` entries, every entry read and merged under a
// lane mask.
template <std::size_t V>
CORVANE_IFMA_TARGET void select(Digits<V>& out, const Digits<V>* table, std::size_t count, Word index) {
    const __m512i wanted = _mm512_set1_epi64(static_cast<long long>(index));
    __m512i acc[V];
    for (std::size_t v = 0; v < V; v++) acc[v] = _mm512_setzero_si512();
    for (std::size_t e = 0; e < count; e++) {
        const __mmask8 take = _mm512_cmpeq_epi64_mask(_mm512_set1_epi64(static_cast<long long>(e)), wanted);
        CORVANE_UNROLL
        for (std::size_t v = 0; v < V; v++)
            acc[v] = _mm512_mask_mov_epi64(acc[v], take, _mm512_load_si512(table[e].d + 8 * v));
    }
    for (std::size_t v = 0; v < V; v++) _mm512_store_si512(out.d + 8 * v, acc[v]);
}

// The state of both exponentiations: per modulus its digits, the factor
// that carries a residue of the engine's form into this one, and the way
// back.
template <std::size_t V>
struct PairState {
    Modulus52<V> mod[2];
    Digits<V> intoForm[2];   // 2^(104L - 64n) mod m: x*2^(64n) times it, over R, is x*R
    Digits<V> outOfForm[2];  // 2^(64n) mod m: x*R times it, over R, is x*2^(64n)
    Digits<V> x[2], one[2];
    Digits<V> table[2][32];
    Digits<V> acc[2], factor[2];
};

template <std::size_t V>
void setUp(PairState<V>& s, std::size_t c, const MontModulus& mod) {
    const std::size_t n = mod.n, digits = digitsFor(n);
    toDigits(s.mod[c].m, mod.m, n);
    s.mod[c].k0 = mod.m0inv & kMask52;
    s.mod[c].digits = digits;
    toDigits(s.outOfForm[c], mod.one, n);
    // 2^(104L - 64n) = 2^(64n) doubled 104L - 128n times (never negative:
    // 52L >= 64n + 2), modulo m, by masked additions.
    Word power[kMaxWords], scratch[kMaxWords];
    for (std::size_t i = 0; i < n; i++) power[i] = mod.one[i];
    for (std::size_t k = 0; k < 2 * kDigit52 * digits - 2 * kWordBits * n; k++)
        modAdd(power, power, power, mod.m, scratch, n);
    toDigits(s.intoForm[c], power, n);
    secure_zero_object(power);
    secure_zero_object(scratch);
}

template <std::size_t V>
void modExpPair(const MontModulus& modP, Word* xP, const NN_DIGIT* eP, const MontModulus& modQ, Word* xQ,
                const NN_DIGIT* eQ, std::size_t digits) {
    PairState<V> s;
    setUp(s, 0, modP);
    setUp(s, 1, modQ);
    const Modulus52<V>&m0 = s.mod[0], &m1 = s.mod[1];
    toDigits(s.x[0], xP, modP.n);
    toDigits(s.x[1], xQ, modQ.n);
    mulPair(s.x[0], s.x[0], s.intoForm[0], m0, s.x[1], s.x[1], s.intoForm[1], m1);
    mulPair(s.one[0], s.outOfForm[0], s.intoForm[0], m0, s.one[1], s.outOfForm[1], s.intoForm[1], m1);

    // The fixed window of modExpFixedWindow (exponent.h), step for step.
    const NN_DIGIT* e[2] = {eP, eQ};
    const std::size_t bits = kDigitBits * digits;
    const unsigned width = fixedWindowWidth(bits);
    const std::size_t entries = std::size_t{1} << width;
    for (std::size_t c = 0; c < 2; c++) {
        s.table[c][0] = s.one[c];
        s.table[c][1] = s.x[c];
    }
    for (std::size_t i = 2; i < entries; i++) {
        if (i % 2 == 0)
            mulPair(s.table[0][i], s.table[0][i / 2], s.table[0][i / 2], m0, s.table[1][i], s.table[1][i / 2],
                    s.table[1][i / 2], m1);
        else
            mulPair(s.table[0][i], s.table[0][i - 1], s.table[0][1], m0, s.table[1][i], s.table[1][i - 1],
                    s.table[1][1], m1);
    }
    if (bits == 0) {
        s.acc[0] = s.one[0];
        s.acc[1] = s.one[1];
    } else {
        const std::size_t windows = (bits + width - 1) / width;
        const unsigned topWidth = static_cast<unsigned>(bits - (windows - 1) * width);
        for (std::size_t c = 0; c < 2; c++)
            select(s.acc[c], s.table[c], entries,
                   exponentBits(e[c], digits, (windows - 1) * width, topWidth));
        for (std::size_t w = windows - 1; w-- > 0;) {
            for (unsigned k = 0; k < width; k++)
                mulPair(s.acc[0], s.acc[0], s.acc[0], m0, s.acc[1], s.acc[1], s.acc[1], m1);
            for (std::size_t c = 0; c < 2; c++)
                select(s.factor[c], s.table[c], entries, exponentBits(e[c], digits, w * width, width));
            mulPair(s.acc[0], s.acc[0], s.factor[0], m0, s.acc[1], s.acc[1], s.factor[1], m1);
        }
    }

    // Back to the engine's form, below 1.5m, and below m after one masked
    // subtraction.
    mulPair(s.acc[0], s.acc[0], s.outOfForm[0], m0, s.acc[1], s.acc[1], s.outOfForm[1], m1);
    Word* out[2] = {xP, xQ};
    const MontModulus* mods[2] = {&modP, &modQ};
    Word words[kMaxWords], scratch[kMaxWords];
    for (std::size_t c = 0; c < 2; c++) {
        const std::size_t n = mods[c]->n;
        const Word top = fromDigits(words, n, s.acc[c]);
        reduceOnce(out[c], words, top, mods[c]->m, scratch, n);
    }
    secure_zero_object(words);
    secure_zero_object(scratch);
    secure_zero_object(s);
}

}  // namespace

bool ifmaAvailable() noexcept {
    const CpuFeatures& features = cpu_features();
    return features.avx512f && features.avx512ifma;
}

void modExpPairIfma(const MontModulus& modP, Word* xP, const NN_DIGIT* eP, const MontModulus& modQ, Word* xQ,
                    const NN_DIGIT* eQ, std::size_t digits) noexcept {
    if (digitsFor(modP.n) <= 8)
        modExpPair<1>(modP, xP, eP, modQ, xQ, eQ, digits);
    else
        modExpPair<2>(modP, xP, eP, modQ, xQ, eQ, digits);
}

#else

bool ifmaAvailable() noexcept { return false; }

void modExpPairIfma(const MontModulus&, Word*, const NN_DIGIT*, const MontModulus&, Word*, const NN_DIGIT*,
                    std::size_t) noexcept {}

#endif

}  // namespace corvane::engine
