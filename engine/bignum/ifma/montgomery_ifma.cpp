// The vector code carries its own target attribute instead of the file
// being compiled for AVX-512: the inline helpers this file shares with the
// rest of the engine (limbs.h, exponent.h) must stay plain x86-64 code, or
// the linker could keep an AVX-512 copy of them for every caller.
#include "engine/bignum/ifma/montgomery_ifma.h"

#include <cstdint>
#include <type_traits>

#include "engine/bignum/exponent.h"
#include "engine/bignum/limbs.h"
#include "engine/cpu/cpu.h"
#include "platform/secure_zero.h"

#if CORVANE_ENGINE_HAS_IFMA
#include "engine/bignum/ifma/ifma_chains.h"
#endif

namespace corvane::engine {

#if CORVANE_ENGINE_HAS_IFMA

namespace {

// The window: 4 bits, where the engine's scalar exponentiation takes 5 for
// exponents of this length. The result is the same for any width; here the
// full reads of the table, whose every entry is read for every window, cost
// more than the 4-bit window's extra products save.
constexpr unsigned kWindowBits = 4;
constexpr std::size_t kEntries = std::size_t{1} << kWindowBits;

// For both chains c, table[c][index[c]], every entry of both tables read
// and merged under lane masks.
template <std::size_t V, std::size_t Entries>
CORVANE_IFMA_TARGET inline void selectPair(Lanes<V> (&out)[2], const Digits<V> (&table)[2][Entries],
                                           const Word (&index)[2]) {
    const __m512i wanted[2] = {_mm512_set1_epi64(static_cast<long long>(index[0])),
                               _mm512_set1_epi64(static_cast<long long>(index[1]))};
    CORVANE_UNROLL
    for (std::size_t c = 0; c < 2; c++)
        for (std::size_t v = 0; v < V; v++) out[c].v[v] = _mm512_setzero_si512();
    CORVANE_UNROLL
    for (std::size_t e = 0; e < Entries; e++) {
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
// way back, and the value.
template <std::size_t V>
struct PairForms {
    Digits<V> m[2];
    Digits<V> intoForm[2];   // 2^(104L - 64n) mod m: x*2^(64n) times it, over R, is x*R
    Digits<V> outOfForm[2];  // 2^(64n) mod m: x*R times it, over R, is x*2^(64n)
    Digits<V> x[2];
};

// The fixed window's state adds the window tables.
template <std::size_t V>
struct PairState : PairForms<V> {
    Digits<V> table[2][kEntries];
};

// Chain c's constants from the key's copy, or computed here when there is
// none, and its value.
template <std::size_t V>
void setUp(PairForms<V>& s, std::size_t c, const MontModulus& mod, const Word* x,
           const IfmaPairConstants* cached) {
    static_assert(8 * V <= IfmaPairConstants::kDigits);
    IfmaPairConstants computed;
    if (cached == nullptr) prepareIfmaPairConstants(computed, mod);
    const IfmaPairConstants& k = cached != nullptr ? *cached : computed;
    for (std::size_t j = 0; j < 8 * V; j++) {
        s.m[c].d[j] = k.m[j];
        s.intoForm[c].d[j] = k.intoForm[j];
        s.outOfForm[c].d[j] = k.outOfForm[j];
    }
    toDigits(s.x[c], x, mod.n);
    if (cached == nullptr) secure_zero_object(computed);
}

template <std::size_t V, std::size_t L>
CORVANE_IFMA_TARGET void modExpPair(PairState<V>& s, const MontModulus* const (&mods)[2],
                                    const NN_DIGIT* const (&e)[2], std::size_t digits) {
    ModulusLanes<V> mod[2];
    Lanes<V> x[2], into[2], outOf[2], one[2], t[2];
    for (std::size_t c = 0; c < 2; c++) {
        mod[c] = modulusLanes(s.m[c], mods[c]->m0inv);
        x[c] = load(s.x[c]);
        into[c] = load(s.intoForm[c]);
        outOf[c] = load(s.outOfForm[c]);
    }
    mulChains<2, V, L>(x, x, into, mod);
    mulChains<2, V, L>(one, outOf, into, mod);

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
        mulChains<2, V, L>(y, y, z, mod);
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
            for (unsigned k = 0; k < width; k++) mulChains<2, V, L>(acc, acc, acc, mod);
            const Word window[2] = {exponentBits(e[0], digits, w * width, width),
                                    exponentBits(e[1], digits, w * width, width)};
            selectPair(t, s.table, window);
            mulChains<2, V, L>(acc, acc, t, mod);
        }
    }
    // Back to the engine's form (below 1.5m; the caller subtracts m once).
    mulChains<2, V, L>(acc, acc, outOf, mod);
    store(s.x[0], acc[0]);
    store(s.x[1], acc[1]);
}

// For both chains c, table[c][index[c]] = x[c], every entry of both tables
// written (unchanged but for the one chosen, under lane masks).
template <std::size_t V, std::size_t Entries>
CORVANE_IFMA_TARGET inline void replacePair(Digits<V> (&table)[2][Entries], const Word (&index)[2],
                                            const Lanes<V> (&x)[2]) {
    CORVANE_UNROLL
    for (std::size_t c = 0; c < 2; c++) {
        const __m512i wanted = _mm512_set1_epi64(static_cast<long long>(index[c]));
        CORVANE_UNROLL
        for (std::size_t e = 0; e < Entries; e++) {
            const __mmask8 take =
                _mm512_cmpeq_epi64_mask(_mm512_set1_epi64(static_cast<long long>(e)), wanted);
            CORVANE_UNROLL
            for (std::size_t v = 0; v < V; v++) {
                __m512i entry = _mm512_load_si512(table[c][e].d + 8 * v);
                __asm__("" : "+v"(entry));
                _mm512_store_si512(table[c][e].d + 8 * v, _mm512_mask_mov_epi64(entry, take, x[c].v[v]));
            }
        }
    }
}

// The right-to-left method's windows: 2 bits. Wider windows save
// products into the accumulators but each adds a squaring that runs with
// only the two squaring chains (measured on Zen 5, 4 to 6 words: 3 bits
// about 5% slower).
constexpr unsigned kRightToLeftBits = 2;

// The right-to-left method's state: per prime an accumulator for every
// window value.
template <std::size_t V>
struct RightToLeftState : PairForms<V> {
    Digits<V> acc[2][std::size_t{1} << kRightToLeftBits];
};

// The same two exponentiations right to left, W = 2 bits at a time: per
// prime, one chain squares s = x^(4^j), and a second one multiplies s into
// the accumulator A[w] chosen by the window value w = bits 2j and 2j + 1
// of the exponent (A[0] takes the products of the zero windows and is
// dropped); at the end x^e = A[1] * A[2]^2 * A[3]^3. The products into the
// accumulators leave the chain of squarings: the first squaring of each
// window runs beside the product of one prime's accumulator, the second
// beside the other's, three chains in each loop where the fixed window
// has two, and 1 product per bit on the chain where the fixed window of 4
// bits has 1.25. For primes of up to 6 words, whose products are short
// chains of dependent steps that leave the multipliers idle, the third
// chain costs little (measured on Zen 5 at 4 words: about 120 cycles per
// step of three products against 110 for two); for longer ones the
// multipliers are the limit and the fixed window is faster. The
// accumulators are read and written whole, under masks, at every window.
template <std::size_t V, std::size_t L>
CORVANE_IFMA_TARGET void modExpPairRightToLeft(RightToLeftState<V>& s, const MontModulus* const (&mods)[2],
                                               const NN_DIGIT* const (&e)[2], std::size_t digits) {
    constexpr unsigned W = kRightToLeftBits;
    static_assert(W == 2, "two squarings per window, one beside each prime's accumulator");
    ModulusLanes<V> pair[2], withP[3], withQ[3], both[4];
    for (std::size_t c = 0; c < 2; c++)
        pair[c] = withP[c] = withQ[c] = both[c] = both[c + 2] = modulusLanes(s.m[c], mods[c]->m0inv);
    withP[2] = pair[0];
    withQ[2] = pair[1];
    // Into this form: the values, and 1 (as R mod m, from 2^(64n) mod m).
    Lanes<V> four[4] = {load(s.x[0]), load(s.x[1]), load(s.outOfForm[0]), load(s.outOfForm[1])};
    {
        const Lanes<V> into[4] = {load(s.intoForm[0]), load(s.intoForm[1]), load(s.intoForm[0]),
                                  load(s.intoForm[1])};
        mulChains<4, V, L>(four, four, into, both);
    }
    Lanes<V> sq[2] = {four[0], four[1]};
    for (std::size_t c = 0; c < 2; c++)
        for (auto& a : s.acc[c]) store(a, four[c + 2]);

    const std::size_t windows = (kDigitBits * digits + W - 1) / W;
    for (std::size_t j = 0; j < windows; j++) {
        const Word window[2] = {exponentBits(e[0], digits, W * j, W), exponentBits(e[1], digits, W * j, W)};
        Lanes<V> a[2];
        selectPair(a, s.acc, window);
        // s^2 for both, beside A_p[w] * s_p, then beside A_q[w] * s_q (the
        // s of before the squarings both times).
        const Lanes<V> sQ = sq[1];
        {
            Lanes<V> x[3] = {sq[0], sq[1], a[0]};
            const Lanes<V> y[3] = {sq[0], sq[1], sq[0]};
            mulChains<3, V, L>(x, x, y, withP);
            sq[0] = x[0];
            sq[1] = x[1];
            a[0] = x[2];
        }
        {
            Lanes<V> x[3] = {sq[0], sq[1], a[1]};
            const Lanes<V> y[3] = {sq[0], sq[1], sQ};
            mulChains<3, V, L>(x, x, y, withQ);
            sq[0] = x[0];
            sq[1] = x[1];
            a[1] = x[2];
        }
        replacePair(s.acc, window, a);
    }
    // A[1] * A[2]^2 * A[3]^3 = (A[2] * A[3])^2 * (A[1] * A[3]).
    for (std::size_t c = 0; c < 2; c++) four[c] = load(s.acc[c][2]), four[c + 2] = load(s.acc[c][1]);
    {
        const Lanes<V> third[4] = {load(s.acc[0][3]), load(s.acc[1][3]), load(s.acc[0][3]),
                                   load(s.acc[1][3])};
        mulChains<4, V, L>(four, four, third, both);
    }
    Lanes<V> r[2] = {four[0], four[1]};
    const Lanes<V> other[2] = {four[2], four[3]};
    mulChains<2, V, L>(r, r, r, pair);
    mulChains<2, V, L>(r, r, other, pair);
    // Back to the engine's form (below 1.5m; the caller subtracts m once).
    const Lanes<V> outOf[2] = {load(s.outOfForm[0]), load(s.outOfForm[1])};
    mulChains<2, V, L>(r, r, outOf, pair);
    store(s.x[0], r[0]);
    store(s.x[1], r[1]);
}

// The fixed window, or the right-to-left method.
template <std::size_t V, std::size_t L, bool rightToLeft>
void modExpPairDigits(const MontModulus& modP, Word* xP, const NN_DIGIT* eP, const MontModulus& modQ,
                      Word* xQ, const NN_DIGIT* eQ, std::size_t digits, const IfmaPairConstants* constants) {
    std::conditional_t<rightToLeft, RightToLeftState<V>, PairState<V>> s;
    setUp(s, 0, modP, xP, constants);
    setUp(s, 1, modQ, xQ, constants != nullptr ? constants + 1 : nullptr);
    const MontModulus* const mods[2] = {&modP, &modQ};
    const NN_DIGIT* const e[2] = {eP, eQ};
    if constexpr (rightToLeft)
        modExpPairRightToLeft<V, L>(s, mods, e, digits);
    else
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

}  // namespace

void prepareIfmaPairConstants(IfmaPairConstants& c, const MontModulus& mod) noexcept {
    const std::size_t n = mod.n, digits = digits52For(n);
    // 2^(104L - 64n) = 2^(64n) doubled 104L - 128n times (never negative:
    // 52L >= 64n + 2), modulo m, by masked additions.
    Word power[kMaxWords], scratch[kMaxWords];
    for (std::size_t i = 0; i < n; i++) power[i] = mod.one[i];
    for (std::size_t k = 0; k < 2 * kDigit52Bits * digits - 2 * kWordBits * n; k++)
        modAdd(power, power, power, mod.m, scratch, n);
    for (std::size_t j = 0; j < IfmaPairConstants::kDigits; j++) {
        c.m[j] = digit52Of(mod.m, n, j);
        c.intoForm[j] = digit52Of(power, n, j);
        c.outOfForm[j] = digit52Of(mod.one, n, j);
    }
    secure_zero_object(power);
    secure_zero_object(scratch);
}

void normaliseDigitsIfma(std::uint64_t* digits, std::size_t vectors) noexcept {
    if (vectors == 1) normaliseStored<1>(digits);
    if (vectors == 2) normaliseStored<2>(digits);
    if (vectors == 3) normaliseStored<3>(digits);
}

bool ifmaAvailable() noexcept {
    const CpuFeatures& features = cpu_features();
    return features.avx512f && features.avx512bw && features.avx512ifma && features.bmi2;
}

void modExpPairIfma(const MontModulus& modP, Word* xP, const NN_DIGIT* eP, const MontModulus& modQ, Word* xQ,
                    const NN_DIGIT* eQ, std::size_t digits, const IfmaPairConstants* constants) noexcept {
    // Digit counts fixed at compile time, so that the compiler unrolls and
    // schedules each product whole.
    switch (modP.n) {
        case 4:
            return modExpPairDigits<1, digits52For(4), false>(modP, xP, eP, modQ, xQ, eQ, digits, constants);
        case 5:
            return modExpPairDigits<1, digits52For(5), false>(modP, xP, eP, modQ, xQ, eQ, digits, constants);
        case 6:
            return modExpPairDigits<1, digits52For(6), false>(modP, xP, eP, modQ, xQ, eQ, digits, constants);
        case 7:
            return modExpPairDigits<2, digits52For(7), false>(modP, xP, eP, modQ, xQ, eQ, digits, constants);
        case 8:
            return modExpPairDigits<2, digits52For(8), false>(modP, xP, eP, modQ, xQ, eQ, digits, constants);
        default:
            return;
    }
}

void modExpPairIfmaRightToLeft(const MontModulus& modP, Word* xP, const NN_DIGIT* eP, const MontModulus& modQ,
                               Word* xQ, const NN_DIGIT* eQ, std::size_t digits,
                               const IfmaPairConstants* constants) noexcept {
    switch (modP.n) {
        case 4:
            return modExpPairDigits<1, digits52For(4), true>(modP, xP, eP, modQ, xQ, eQ, digits, constants);
        case 5:
            return modExpPairDigits<1, digits52For(5), true>(modP, xP, eP, modQ, xQ, eQ, digits, constants);
        case 6:
            return modExpPairDigits<1, digits52For(6), true>(modP, xP, eP, modQ, xQ, eQ, digits, constants);
        default:
            return;
    }
}

#else

bool ifmaAvailable() noexcept { return false; }

void prepareIfmaPairConstants(IfmaPairConstants&, const MontModulus&) noexcept {}

void modExpPairIfma(const MontModulus&, Word*, const NN_DIGIT*, const MontModulus&, Word*, const NN_DIGIT*,
                    std::size_t, const IfmaPairConstants*) noexcept {}

void modExpPairIfmaRightToLeft(const MontModulus&, Word*, const NN_DIGIT*, const MontModulus&, Word*,
                               const NN_DIGIT*, std::size_t, const IfmaPairConstants*) noexcept {}

void normaliseDigitsIfma(std::uint64_t*, std::size_t) noexcept {}

#endif

}  // namespace corvane::engine
