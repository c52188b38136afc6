// The vector code carries its own target attribute instead of the file
// being compiled for AVX-512: the inline helpers this file shares with the
// rest of the engine (limbs.h, exponent.h) must stay plain x86-64 code, or
// the linker could keep an AVX-512 copy of them for every caller.
#include "engine/montgomery_ifma.h"

#include <cstdint>

#include "cpu.h"
#include "engine/digits52.h"
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

#define CORVANE_IFMA_TARGET __attribute__((target("avx512f,avx512bw,avx512ifma")))

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
    for (std::size_t i = 0; i < n; i++) w[i] = word52At(i, 8 * V, [&](std::size_t j) { return x.d[j]; });
    return word52At(n, 8 * V, [&](std::size_t j) { return x.d[j]; });
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
// lanes' mask bits, as in a carry-lookahead adder, without branches. The
// masks stay in the mask registers: a trip through the general registers
// and back would add to every product's latency.
template <std::size_t V>
CORVANE_IFMA_TARGET inline void normalise(__m512i (&x)[V]) {
    static_assert(V <= 2);
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
    __mmask16 generate = _mm512_cmpgt_epu64_mask(x[0], mask), propagate = _mm512_cmpeq_epu64_mask(x[0], mask);
    if constexpr (V == 2) {
        generate = _mm512_kunpackb(_mm512_cmpgt_epu64_mask(x[1], mask), generate);
        propagate = _mm512_kunpackb(_mm512_cmpeq_epu64_mask(x[1], mask), propagate);
    }
    const __mmask32 carryIn =
        _kxor_mask32(_kadd_mask32(_kshiftli_mask32(generate, 1), propagate), propagate);
    const __m512i one = _mm512_set1_epi64(1);
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) {
        const __mmask8 take = static_cast<__mmask8>(v == 0 ? carryIn : _kshiftri_mask32(carryIn, 8));
        x[v] = _mm512_and_si512(_mm512_mask_add_epi64(x[v], take, x[v], one), mask);
    }
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

// A modulus in registers: its digits, the same moved down one digit, and
// in every lane -m^-1 mod 2^52 and digits 0 and 1.
template <std::size_t V>
struct ModulusLanes {
    Lanes<V> m, mDown;
    __m512i k0, m0, m1;
};

// r[c] = a[c] * b[c] / R mod m[c] for both chains c (residues below 2m,
// results below 2m), L digits. Operand scanning: for each digit b[i],
// acc += a * b[i] + m * q with q chosen so that the lowest digit vanishes,
// then acc moves down one digit.
//
// What limits the speed is the chain from one q to the next, so it is kept
// inside the vector registers (a move to a general register and back costs
// more than the multiply it feeds) and free of lane moves:
// - the lowest digit t of acc is also kept in every lane of tLanes, so q is
//   one multiply-add away (t * -m^-1; only t's low 52 bits count, so the
//   digits need not be normalised);
// - acc itself never waits for q before it moves: step i adds to the moved
//   acc the low halves of m * q taken from m moved down one digit, the high
//   halves of m * q, and y, which holds the terms of a * b that land on the
//   same digits (high halves for b[i], low halves for b[i+1]) and the carry
//   out of the vanishing digit t (t + lo(m0 q) is t rounded up to a
//   multiple of 2^52, whatever q is);
// - the next t is the same sum for lane 0 alone, computed in every lane
//   from the broadcast digits m0, m1, y's lane 0 and acc's lane 1.
// So the chain from t to the next t is the multiply-add for q, one for
// m * q, and an addition; the two chains are independent and fill each
// other's waits. (Measured on Zen 5, one product alone takes about 200
// cycles and the pair about 225: latency, not the multipliers, is still
// what bounds it, a sixth of it the final normalisation.) r may alias a
// or b.
template <std::size_t V, std::size_t L>
CORVANE_IFMA_TARGET __attribute__((always_inline)) inline void mulPair(Lanes<V> (&r)[2],
                                                                       const Lanes<V> (&a)[2],
                                                                       const Lanes<V> (&b)[2],
                                                                       const ModulusLanes<V> (&mod)[2]) {
    static_assert(L >= 2 && L <= 8 * V);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i roundUp = _mm512_set1_epi64(static_cast<long long>(kDigit52Mask));
    const __m512i laneOne = _mm512_set1_epi64(1);
    __m512i acc[2][V], y[2][V], tLanes[2], bNext[2];
    CORVANE_UNROLL
    for (std::size_t c = 0; c < 2; c++) {
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
        for (std::size_t c = 0; c < 2; c++) {
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
            // What joins acc: y, the carry, and m * q. The high halves of
            // m * q go onto the moved acc and the low halves onto y, two
            // multiply-adds side by side: acc's lane 1, which the t after
            // next reads, is then one multiply-add and an addition behind
            // q, not two multiply-adds (about 5% less time per paired
            // product, measured at 4 to 8 words on Zen 5).
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
    for (std::size_t c = 0; c < 2; c++) {
        normalise(acc[c]);
        for (std::size_t v = 0; v < V; v++) r[c].v[v] = acc[c][v];
    }
}

// The window: 4 bits, where the engine's scalar exponentiation takes 5 for
// exponents of this length. The result is the same for any width; here the
// full reads of the table, whose every entry is read for every window, cost
// more than the 4-bit window's extra products save.
constexpr unsigned kWindowBits = 4;
constexpr std::size_t kEntries = std::size_t{1} << kWindowBits;

// For both chains c, table[c][index[c]], every entry of both tables read
// and merged under lane masks.
template <std::size_t V>
CORVANE_IFMA_TARGET inline void selectPair(Lanes<V> (&out)[2], const Digits<V> (&table)[2][kEntries],
                                           const Word (&index)[2]) {
    const __m512i wanted[2] = {_mm512_set1_epi64(static_cast<long long>(index[0])),
                               _mm512_set1_epi64(static_cast<long long>(index[1]))};
    CORVANE_UNROLL
    for (std::size_t c = 0; c < 2; c++)
        for (std::size_t v = 0; v < V; v++) out[c].v[v] = _mm512_setzero_si512();
    CORVANE_UNROLL
    for (std::size_t e = 0; e < kEntries; e++) {
        const __m512i entry = _mm512_set1_epi64(static_cast<long long>(e));
        CORVANE_UNROLL
        for (std::size_t c = 0; c < 2; c++) {
            const __mmask8 take = _mm512_cmpeq_epi64_mask(entry, wanted[c]);
            CORVANE_UNROLL
            for (std::size_t v = 0; v < V; v++) {
                // Loaded whole into a register first: folded into a load
                // under the mask, the read of an entry could depend on the
                // index.
                __m512i x = _mm512_load_si512(table[c][e].d + 8 * v);
                __asm__("" : "+v"(x));
                out[c].v[v] = _mm512_mask_mov_epi64(out[c].v[v], take, x);
            }
        }
    }
}

// What both exponentiations keep in memory: per modulus its digits, the
// factor that carries a residue of the engine's form into this one, the
// way back, and the window tables.
template <std::size_t V>
struct PairState {
    Digits<V> m[2];
    Digits<V> intoForm[2];   // 2^(104L - 64n) mod m: x*2^(64n) times it, over R, is x*R
    Digits<V> outOfForm[2];  // 2^(64n) mod m: x*R times it, over R, is x*2^(64n)
    Digits<V> x[2];
    Digits<V> table[2][kEntries];
};

template <std::size_t V>
void setUp(PairState<V>& s, std::size_t c, const MontModulus& mod, const Word* x) {
    const std::size_t n = mod.n, digits = digits52For(n);
    toDigits(s.m[c], mod.m, n);
    toDigits(s.outOfForm[c], mod.one, n);
    toDigits(s.x[c], x, n);
    // 2^(104L - 64n) = 2^(64n) doubled 104L - 128n times (never negative:
    // 52L >= 64n + 2), modulo m, by masked additions.
    Word power[kMaxWords], scratch[kMaxWords];
    for (std::size_t i = 0; i < n; i++) power[i] = mod.one[i];
    for (std::size_t k = 0; k < 2 * kDigit52Bits * digits - 2 * kWordBits * n; k++)
        modAdd(power, power, power, mod.m, scratch, n);
    toDigits(s.intoForm[c], power, n);
    secure_zero_object(power);
    secure_zero_object(scratch);
}

template <std::size_t V, std::size_t L>
CORVANE_IFMA_TARGET void modExpPair(PairState<V>& s, const MontModulus* const (&mods)[2],
                                    const NN_DIGIT* const (&e)[2], std::size_t digits) {
    ModulusLanes<V> mod[2];
    Lanes<V> x[2], into[2], outOf[2], one[2], t[2];
    for (std::size_t c = 0; c < 2; c++) {
        mod[c].m = load(s.m[c]);
        CORVANE_UNROLL
        for (std::size_t v = 0; v < V; v++)
            mod[c].mDown.v[v] = _mm512_alignr_epi64(v + 1 < V ? mod[c].m.v[v + 1] : _mm512_setzero_si512(),
                                                    mod[c].m.v[v], 1);
        mod[c].k0 = _mm512_set1_epi64(static_cast<long long>(mods[c]->m0inv & kDigit52Mask));
        mod[c].m0 = _mm512_set1_epi64(static_cast<long long>(s.m[c].d[0]));
        mod[c].m1 = _mm512_set1_epi64(static_cast<long long>(s.m[c].d[1]));
        x[c] = load(s.x[c]);
        into[c] = load(s.intoForm[c]);
        outOf[c] = load(s.outOfForm[c]);
    }
    mulPair<V, L>(x, x, into, mod);
    mulPair<V, L>(one, outOf, into, mod);

    // The fixed window of modExpFixedWindow (exponent.h), with its own width.
    const std::size_t bits = kDigitBits * digits;
    constexpr unsigned width = kWindowBits;
    for (std::size_t c = 0; c < 2; c++) {
        store(s.table[c][0], one[c]);
        store(s.table[c][1], x[c]);
    }
    for (std::size_t i = 2; i < kEntries; i++) {
        const std::size_t j = i % 2 == 0 ? i / 2 : i - 1, k = i % 2 == 0 ? i / 2 : 1;
        Lanes<V> y[2] = {load(s.table[0][j]), load(s.table[1][j])};
        const Lanes<V> z[2] = {load(s.table[0][k]), load(s.table[1][k])};
        mulPair<V, L>(y, y, z, mod);
        store(s.table[0][i], y[0]);
        store(s.table[1][i], y[1]);
    }
    Lanes<V> acc[2] = {one[0], one[1]};
    if (bits != 0) {
        const std::size_t windows = (bits + width - 1) / width;
        const unsigned topWidth = static_cast<unsigned>(bits - (windows - 1) * width);
        const Word top[2] = {exponentBits(e[0], digits, (windows - 1) * width, topWidth),
                             exponentBits(e[1], digits, (windows - 1) * width, topWidth)};
        selectPair(acc, s.table, top);
        for (std::size_t w = windows - 1; w-- > 0;) {
            for (unsigned k = 0; k < width; k++) mulPair<V, L>(acc, acc, acc, mod);
            const Word window[2] = {exponentBits(e[0], digits, w * width, width),
                                    exponentBits(e[1], digits, w * width, width)};
            selectPair(t, s.table, window);
            mulPair<V, L>(acc, acc, t, mod);
        }
    }
    // Back to the engine's form (below 1.5m; the caller subtracts m once).
    mulPair<V, L>(acc, acc, outOf, mod);
    store(s.x[0], acc[0]);
    store(s.x[1], acc[1]);
}

template <std::size_t V, std::size_t L>
void modExpPairDigits(const MontModulus& modP, Word* xP, const NN_DIGIT* eP, const MontModulus& modQ,
                      Word* xQ, const NN_DIGIT* eQ, std::size_t digits) {
    PairState<V> s;
    setUp(s, 0, modP, xP);
    setUp(s, 1, modQ, xQ);
    const MontModulus* const mods[2] = {&modP, &modQ};
    const NN_DIGIT* const e[2] = {eP, eQ};
    modExpPair<V, L>(s, mods, e, digits);

    Word* out[2] = {xP, xQ};
    Word words[kMaxWords], scratch[kMaxWords];
    for (std::size_t c = 0; c < 2; c++) {
        const std::size_t n = mods[c]->n;
        const Word top = fromDigits(words, n, s.x[c]);
        reduceOnce(out[c], words, top, mods[c]->m, scratch, n);
    }
    secure_zero_object(words);
    secure_zero_object(scratch);
    secure_zero_object(s);
}

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

void normaliseDigitsIfma(std::uint64_t* digits, std::size_t vectors) noexcept {
    if (vectors == 1) normaliseStored<1>(digits);
    if (vectors == 2) normaliseStored<2>(digits);
}

bool ifmaAvailable() noexcept {
    const CpuFeatures& features = cpu_features();
    return features.avx512f && features.avx512bw && features.avx512ifma && features.bmi2;
}

void modExpPairIfma(const MontModulus& modP, Word* xP, const NN_DIGIT* eP, const MontModulus& modQ, Word* xQ,
                    const NN_DIGIT* eQ, std::size_t digits) noexcept {
    // Digit counts fixed at compile time, so that the compiler unrolls and
    // schedules each product whole.
    switch (modP.n) {
        case 4:
            return modExpPairDigits<1, digits52For(4)>(modP, xP, eP, modQ, xQ, eQ, digits);
        case 5:
            return modExpPairDigits<1, digits52For(5)>(modP, xP, eP, modQ, xQ, eQ, digits);
        case 6:
            return modExpPairDigits<1, digits52For(6)>(modP, xP, eP, modQ, xQ, eQ, digits);
        case 7:
            return modExpPairDigits<2, digits52For(7)>(modP, xP, eP, modQ, xQ, eQ, digits);
        case 8:
            return modExpPairDigits<2, digits52For(8)>(modP, xP, eP, modQ, xQ, eQ, digits);
        default:
            return;
    }
}

#else

bool ifmaAvailable() noexcept { return false; }

void modExpPairIfma(const MontModulus&, Word*, const NN_DIGIT*, const MontModulus&, Word*, const NN_DIGIT*,
                    std::size_t) noexcept {}

void normaliseDigitsIfma(std::uint64_t*, std::size_t) noexcept {}

#endif

}  // namespace corvane::engine
