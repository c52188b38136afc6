// The lane-parallel exponentiation of montgomery_ifma_lanes.cpp, written
// over a vector type given as a template argument: AVX-512 IFMA there, and
// an eight-word stand-in made of plain integer code in the constant-time
// check, which valgrind can run (it cannot run AVX-512). Both get the same
// sequence of operations and memory addresses from this one text.
//
// Layout: every number is L digits of 52 bits, and a vector holds the same
// digit of eight different numbers, one per 64-bit lane, so that a digit
// product advances eight Montgomery products at once, each lane with its
// own modulus, its own -m^-1 and its own exponent. G groups of eight lanes
// (one or two) run in one loop, so the chains of two groups overlap.
//
// Everything is in an unnamed namespace: each file that includes this one
// compiles its own copy for its own instruction set, and no copy built for
// AVX-512 can stand in for one that runs elsewhere.
#ifndef CORVANE_ENGINE_MONTGOMERY_IFMA_LANES_KERNEL_H
#define CORVANE_ENGINE_MONTGOMERY_IFMA_LANES_KERNEL_H

#include <Corvane/nn.h>

#include <cstddef>
#include <cstdint>

#include "engine/bignum/exponent.h"
#include "engine/bignum/ifma/digits52.h"
#include "engine/bignum/limbs.h"
#include "engine/bignum/montgomery.h"
#include "engine/bignum/word.h"
#include "platform/secure_zero.h"

namespace corvane::engine {
namespace {

constexpr unsigned kLaneDigitBits = kDigit52Bits;
constexpr std::uint64_t kLaneDigitMask = kDigit52Mask;
constexpr std::size_t kLanesPerVector = 8;

// The digit count of an n-word modulus (residues below 2m, R >= 4m).
constexpr std::size_t laneDigitsFor(std::size_t n) { return digits52For(n); }

// 4-bit windows: the table (16 entries, read whole at every window) stays
// in the first-level cache for two groups of ten digits, and a 5-bit window
// would save only a few products on exponents of up to 512 bits.
constexpr unsigned kLaneWindowBits = 4;
constexpr std::size_t kLaneEntries = std::size_t{1} << kLaneWindowBits;

// G groups of L digit vectors: d[g][j][k] is digit j of the number in lane
// k of group g.
template <std::size_t L, std::size_t G>
struct alignas(64) LaneNumbers {
    std::uint64_t d[G][L][kLanesPerVector];
};

// The lanes' moduli, which is all a product reads besides its operands.
template <std::size_t L, std::size_t G>
struct alignas(64) LaneModuli {
    LaneNumbers<L, G> m;
    std::uint64_t k0[G][kLanesPerVector];  // -m^-1 mod 2^52 per lane
};

// What an exponentiation keeps in memory; all of it is secret and wiped.
// LaneForms serves the exponentiation by a public exponent, LaneState adds
// the fixed window's table.
template <std::size_t L, std::size_t G>
struct alignas(64) LaneForms : LaneModuli<L, G> {
    LaneNumbers<L, G> intoForm;   // 2^(104L - 64n) mod m: x 2^(64n) times it, over R, is x R
    LaneNumbers<L, G> outOfForm;  // 2^(64n) mod m: x R times it, over R, is x 2^(64n)
    LaneNumbers<L, G> acc, factor;
};

template <std::size_t L, std::size_t G>
struct alignas(64) LaneState : LaneForms<L, G> {
    LaneNumbers<L, G> table[kLaneEntries];
    std::uint64_t window[G][kLanesPerVector];
};

// r = a b / R mod m in the lanes of groups First .. First + Count - 1
// (operands below 2m, result below 2m with every digit below 2^52), the
// groups' steps interleaved. Operand scanning: for each digit b_i,
// acc += a b_i + m q with q chosen so that the lowest digit vanishes, then
// acc moves down one digit. The accumulator stays in registers; its digits
// may exceed 52 bits until the end, as 64-bit lanes hold the sum of every
// term a digit receives. r may alias a or b.
template <class Vec, std::size_t L, std::size_t G, std::size_t First, std::size_t Count>
__attribute__((always_inline)) inline void laneMulGroups(LaneNumbers<L, G>& r, const LaneNumbers<L, G>& a,
                                                         const LaneNumbers<L, G>& b,
                                                         const LaneModuli<L, G>& s) {
    using V = typename Vec::V;
    V acc[Count][L + 1];
    V k0[Count];
    CORVANE_UNROLL
    for (std::size_t c = 0; c < Count; c++) {
        k0[c] = Vec::load(s.k0[First + c]);
        CORVANE_UNROLL
        for (std::size_t j = 0; j <= L; j++) acc[c][j] = Vec::zero();
    }
    CORVANE_UNROLL
    for (std::size_t i = 0; i < L; i++) {
        CORVANE_UNROLL
        for (std::size_t c = 0; c < Count; c++) {
            const std::size_t g = First + c;
            const V bi = Vec::load(b.d[g][i]);
            CORVANE_UNROLL
            for (std::size_t j = 0; j < L; j++) {
                const V aj = Vec::load(a.d[g][j]);
                acc[c][j] = Vec::madd52lo(acc[c][j], aj, bi);
                acc[c][j + 1] = Vec::madd52hi(acc[c][j + 1], aj, bi);
            }
            const V q = Vec::madd52lo(Vec::zero(), acc[c][0], k0[c]);
            CORVANE_UNROLL
            for (std::size_t j = 0; j < L; j++) {
                const V mj = Vec::load(s.m.d[g][j]);
                acc[c][j] = Vec::madd52lo(acc[c][j], mj, q);
                acc[c][j + 1] = Vec::madd52hi(acc[c][j + 1], mj, q);
            }
            // The lowest digit is now a multiple of 2^52: its carry moves
            // up, and so does every digit.
            acc[c][1] = Vec::add(acc[c][1], Vec::shiftDigit(acc[c][0]));
            CORVANE_UNROLL
            for (std::size_t j = 0; j < L; j++) acc[c][j] = acc[c][j + 1];
            acc[c][L] = Vec::zero();
        }
    }
    // The value is below 2m < 2^(52L), so the carries end in the top digit.
    CORVANE_UNROLL
    for (std::size_t c = 0; c < Count; c++) {
        CORVANE_UNROLL
        for (std::size_t j = 0; j + 1 < L; j++) {
            acc[c][j + 1] = Vec::add(acc[c][j + 1], Vec::shiftDigit(acc[c][j]));
            Vec::store(r.d[First + c][j], Vec::lowDigit(acc[c][j]));
        }
        Vec::store(r.d[First + c][L - 1], acc[c][L - 1]);
    }
}

// r = a^2 / R mod m in the lanes of groups First .. First + Count - 1, as
// laneMulGroups with b = a but in fewer products: the full square first,
// each product of two different digits once and the sum doubled, then
// the reduction, one digit a step. r may alias a.
template <class Vec, std::size_t L, std::size_t G, std::size_t First, std::size_t Count>
__attribute__((always_inline)) inline void laneSqrGroups(LaneNumbers<L, G>& r, const LaneNumbers<L, G>& a,
                                                         const LaneModuli<L, G>& s) {
    using V = typename Vec::V;
    V t[Count][2 * L];
    CORVANE_UNROLL
    for (std::size_t c = 0; c < Count; c++) {
        const std::size_t g = First + c;
        CORVANE_UNROLL
        for (std::size_t k = 0; k < 2 * L; k++) t[c][k] = Vec::zero();
        CORVANE_UNROLL
        for (std::size_t i = 0; i < L; i++) {
            const V ai = Vec::load(a.d[g][i]);
            CORVANE_UNROLL
            for (std::size_t j = i + 1; j < L; j++) {
                const V aj = Vec::load(a.d[g][j]);
                t[c][i + j] = Vec::madd52lo(t[c][i + j], ai, aj);
                t[c][i + j + 1] = Vec::madd52hi(t[c][i + j + 1], ai, aj);
            }
        }
        CORVANE_UNROLL
        for (std::size_t k = 1; k < 2 * L; k++) t[c][k] = Vec::add(t[c][k], t[c][k]);
        CORVANE_UNROLL
        for (std::size_t i = 0; i < L; i++) {
            const V ai = Vec::load(a.d[g][i]);
            t[c][2 * i] = Vec::madd52lo(t[c][2 * i], ai, ai);
            t[c][2 * i + 1] = Vec::madd52hi(t[c][2 * i + 1], ai, ai);
        }
    }
    CORVANE_UNROLL
    for (std::size_t i = 0; i < L; i++) {
        CORVANE_UNROLL
        for (std::size_t c = 0; c < Count; c++) {
            const std::size_t g = First + c;
            const V q = Vec::madd52lo(Vec::zero(), t[c][i], Vec::load(s.k0[g]));
            // The terms of digit i + 1 that the next q waits for: the high
            // half of m_0 q is made from zero and added, rather than queued
            // on digit i + 1's register behind the low half of m_1 q.
            const V m0 = Vec::load(s.m.d[g][0]);
            const V cleared = Vec::madd52lo(t[c][i], m0, q);
            const V high = Vec::madd52hi(Vec::zero(), m0, q);
            CORVANE_UNROLL
            for (std::size_t j = 1; j < L; j++) {
                const V mj = Vec::load(s.m.d[g][j]);
                t[c][i + j] = Vec::madd52lo(t[c][i + j], mj, q);
                t[c][i + j + 1] = Vec::madd52hi(t[c][i + j + 1], mj, q);
            }
            t[c][i + 1] = Vec::add(Vec::add(t[c][i + 1], high), Vec::shiftDigit(cleared));
        }
    }
    CORVANE_UNROLL
    for (std::size_t c = 0; c < Count; c++) {
        CORVANE_UNROLL
        for (std::size_t j = 0; j + 1 < L; j++) {
            t[c][L + j + 1] = Vec::add(t[c][L + j + 1], Vec::shiftDigit(t[c][L + j]));
            Vec::store(r.d[First + c][j], Vec::lowDigit(t[c][L + j]));
        }
        Vec::store(r.d[First + c][L - 1], t[c][2 * L - 1]);
    }
}

// The most digits for which two groups' accumulators (L + 1 vectors each)
// and their operands fit in the 32 vector registers; beyond, the spills
// cost more than the interleaving hides, and the two groups' products run
// one after the other (the processor still overlaps their ends).
constexpr std::size_t kInterleavedDigits = 6;

// r = a b / R mod m in every lane of every group.
template <class Vec, std::size_t L, std::size_t G>
__attribute__((noinline)) void laneMul(LaneNumbers<L, G>& r, const LaneNumbers<L, G>& a,
                                       const LaneNumbers<L, G>& b, const LaneModuli<L, G>& s) {
    if constexpr (G == 1 || L <= kInterleavedDigits) {
        laneMulGroups<Vec, L, G, 0, G>(r, a, b, s);
    } else {
        laneMulGroups<Vec, L, G, 0, 1>(r, a, b, s);
        laneMulGroups<Vec, L, G, 1, 1>(r, a, b, s);
    }
}

// r = a^2 / R mod m in every lane of every group.
template <class Vec, std::size_t L, std::size_t G>
__attribute__((noinline)) void laneSqr(LaneNumbers<L, G>& r, const LaneNumbers<L, G>& a,
                                       const LaneModuli<L, G>& s) {
    if constexpr (G == 1 || L <= kInterleavedDigits) {
        laneSqrGroups<Vec, L, G, 0, G>(r, a, s);
    } else {
        laneSqrGroups<Vec, L, G, 0, 1>(r, a, s);
        laneSqrGroups<Vec, L, G, 1, 1>(r, a, s);
    }
}

// out = table[window] in every lane, each lane by its own index: every entry
// is read whole and merged under a lane mask, so no address depends on an
// index.
template <class Vec, std::size_t L, std::size_t G>
__attribute__((noinline)) void laneSelect(LaneNumbers<L, G>& out, const LaneState<L, G>& s) {
    using V = typename Vec::V;
    CORVANE_UNROLL
    for (std::size_t g = 0; g < G; g++) {
        const V wanted = Vec::load(s.window[g]);
        V digits[L];
        CORVANE_UNROLL
        for (std::size_t j = 0; j < L; j++) digits[j] = Vec::zero();
        for (std::size_t e = 0; e < kLaneEntries; e++) {
            const V entry = Vec::broadcast(e);
            CORVANE_UNROLL
            for (std::size_t j = 0; j < L; j++)
                digits[j] = Vec::takeWhereEqual(digits[j], wanted, entry, Vec::load(s.table[e].d[g][j]));
        }
        CORVANE_UNROLL
        for (std::size_t j = 0; j < L; j++) Vec::store(out.d[g][j], digits[j]);
    }
}

// x as L digits of 52 bits, into lane k of group g.
template <std::size_t L, std::size_t G>
inline void putLane(LaneNumbers<L, G>& out, std::size_t g, std::size_t k, const Word* x, std::size_t n) {
    for (std::size_t j = 0; j < L; j++) out.d[g][j][k] = digit52Of(x, n, j);
}

// x (n words) = the low 64n bits of lane k of group g; returns the bits
// above them (the digits are below 2^52).
template <std::size_t L, std::size_t G>
inline Word takeLane(Word* x, std::size_t n, const LaneNumbers<L, G>& in, std::size_t g, std::size_t k) {
    // The lane's digits side by side, so that each word reads only the
    // two or three digits that overlap it.
    std::uint64_t digits[L];
    for (std::size_t j = 0; j < L; j++) digits[j] = in.d[g][j][k];
    for (std::size_t i = 0; i < n; i++) x[i] = wordOfDigits(digits, L, i);
    const Word top = wordOfDigits(digits, L, n);
    secure_zero_object(digits);
    return top;
}

// The lanes of one call: every one of the 8G lanes has a modulus, an input
// and an exponent; those past the caller's count are a public stand-in.
struct LaneInputs {
    const MontModulus* mods[2 * kLanesPerVector];
    const Word* x[2 * kLanesPerVector];
    const NN_DIGIT* e[2 * kLanesPerVector];
    const IfmaPairConstants* cached[2 * kLanesPerVector];  // a modulus's digits made once, or null
};

// Lane `lane` of out = start (n words, below the lane's modulus) times
// 2^(104L - 128n) modulo the lane's modulus: doubled 104L - 128n times
// (52L >= 64n + 2) by masked additions. Lanes under one modulus (a batch's
// lanes take turns between its two primes) share it: copied from the first
// such lane. Which lanes share a modulus is public.
template <std::size_t L, std::size_t G>
void laneScaledByDoubling(LaneNumbers<L, G>& out, const MontModulus* const* mods, std::size_t lane,
                          const Word* start) {
    const std::size_t g = lane / kLanesPerVector, k = lane % kLanesPerVector;
    std::size_t first = 0;
    while (mods[first] != mods[lane]) first++;
    if (first != lane) {
        for (std::size_t j = 0; j < L; j++)
            out.d[g][j][k] = out.d[first / kLanesPerVector][j][first % kLanesPerVector];
        return;
    }
    const MontModulus& mod = *mods[lane];
    const std::size_t n = mod.n;
    Word power[kMaxWords], scratch[kMaxWords];
    for (std::size_t i = 0; i < n; i++) power[i] = start[i];
    for (std::size_t i = 0; i < 2 * kLaneDigitBits * L - 2 * kWordBits * n; i++)
        modAdd(power, power, power, mod.m, scratch, n);
    putLane(out, g, k, power, n);
    secure_zero_object(power);
    secure_zero_object(scratch);
}

// The lanes' moduli and factors into and out of the form: from the
// modulus's cached digits where the caller has them (a key's, made once),
// else derived here.
template <std::size_t L, std::size_t G>
void laneModulus(LaneModuli<L, G>& s, LaneNumbers<L, G>& intoForm, LaneNumbers<L, G>& outOfForm,
                 const LaneInputs& in, std::size_t lane) {
    static_assert(L <= IfmaPairConstants::kDigits);
    const std::size_t g = lane / kLanesPerVector, k = lane % kLanesPerVector;
    const MontModulus& mod = *in.mods[lane];
    s.k0[g][k] = mod.m0inv & kLaneDigitMask;
    if (const IfmaPairConstants* c = in.cached[lane]) {
        for (std::size_t j = 0; j < L; j++) {
            s.m.d[g][j][k] = c->m[j];
            intoForm.d[g][j][k] = c->intoForm[j];
            outOfForm.d[g][j][k] = c->outOfForm[j];
        }
        return;
    }
    putLane(s.m, g, k, mod.m, mod.n);
    putLane(outOfForm, g, k, mod.one, mod.n);
    // 2^(104L - 64n) from 2^(64n).
    laneScaledByDoubling(intoForm, in.mods, lane, mod.one);
}

// The lanes' moduli and the forms' factors (and the inputs into s.acc).
template <std::size_t L, std::size_t G>
void laneSetUp(LaneForms<L, G>& s, const LaneInputs& in) {
    for (std::size_t lane = 0; lane < G * kLanesPerVector; lane++) {
        laneModulus(s, s.intoForm, s.outOfForm, in, lane);
        putLane(s.acc, lane / kLanesPerVector, lane % kLanesPerVector, in.x[lane], in.mods[lane]->n);
    }
}

// The window of `width` bits at `position` of every lane's exponent.
template <std::size_t L, std::size_t G>
void laneWindows(LaneState<L, G>& s, const LaneInputs& in, std::size_t digits, std::size_t position,
                 unsigned width) {
    for (std::size_t lane = 0; lane < G * kLanesPerVector; lane++)
        s.window[lane / kLanesPerVector][lane % kLanesPerVector] =
            exponentBits(in.e[lane], digits, position, width);
}

// s.acc = s.acc^e in every lane, by the fixed window of modExpFixedWindow
// (exponent.h) with its own width, from and back to the engine's form.
template <class Vec, std::size_t L, std::size_t G>
void laneModExp(LaneState<L, G>& s, const LaneInputs& in, std::size_t digits) {
    laneMul<Vec>(s.acc, s.acc, s.intoForm, s);
    laneMul<Vec>(s.table[0], s.outOfForm, s.intoForm, s);
    s.table[1] = s.acc;
    for (std::size_t i = 2; i < kLaneEntries; i++) {
        if (i % 2 == 0)
            laneSqr<Vec>(s.table[i], s.table[i / 2], s);
        else
            laneMul<Vec>(s.table[i], s.table[i - 1], s.table[1], s);
    }
    const std::size_t bits = kDigitBits * digits;
    s.acc = s.table[0];
    if (bits != 0) {
        constexpr unsigned width = kLaneWindowBits;
        const std::size_t windows = (bits + width - 1) / width;
        laneWindows(s, in, digits, (windows - 1) * width, static_cast<unsigned>(bits - (windows - 1) * width));
        laneSelect<Vec>(s.acc, s);
        for (std::size_t w = windows - 1; w-- > 0;) {
            for (unsigned k = 0; k < width; k++) laneSqr<Vec>(s.acc, s.acc, s);
            laneWindows(s, in, digits, w * width, width);
            laneSelect<Vec>(s.factor, s);
            laneMul<Vec>(s.acc, s.acc, s.factor, s);
        }
    }
    // Back to the engine's form, below 1.5m: the caller subtracts m once.
    laneMul<Vec>(s.acc, s.acc, s.outOfForm, s);
}

// s.acc = s.acc^e in every lane for a public exponent e (eDigits digits, not
// zero) that all lanes share, by the left-to-right binary method, which
// branches on e's bits: the sequence of operations depends on e alone, never
// on the values in the lanes. From and back to the engine's form.
template <class Vec, std::size_t L, std::size_t G>
void lanePublicExponent(LaneForms<L, G>& s, const NN_DIGIT* e, std::size_t eDigits) {
    laneMul<Vec>(s.acc, s.acc, s.intoForm, s);
    s.factor = s.acc;
    std::size_t bits = kDigitBits * eDigits;
    while (bits > 1 && exponentBits(e, eDigits, bits - 1, 1) == 0) bits--;
    for (std::size_t bit = bits - 1; bit-- > 0;) {
        laneSqr<Vec>(s.acc, s.acc, s);
        if (exponentBits(e, eDigits, bit, 1) != 0) laneMul<Vec>(s.acc, s.acc, s.factor, s);
    }
    // Below 1.5m, as laneModExp leaves it.
    laneMul<Vec>(s.acc, s.acc, s.outOfForm, s);
}

// out[i] = lane i of `in` for each lane i < lanes, whose values are below
// 2m_i: brought below m_i by one subtraction.
template <std::size_t L, std::size_t G>
void laneTakeOut(Word* const* out, std::size_t lanes, const MontModulus* const* mods, const LaneNumbers<L, G>& in) {
    const std::size_t n = mods[0]->n;
    Word words[kMaxWords], scratch[kMaxWords];
    for (std::size_t lane = 0; lane < lanes; lane++) {
        const Word top = takeLane(words, n, in, lane / kLanesPerVector, lane % kLanesPerVector);
        reduceOnce(out[lane], words, top, mods[lane]->m, scratch, n);
    }
    secure_zero_object(words);
    secure_zero_object(scratch);
}

// Runs run.operator()<L, G>() with the digit count of n-word moduli fixed
// at compile time (so that each product unrolls whole) and the groups that
// `lanes` fill: one group of eight lanes when that holds them all, two
// otherwise. Nothing for a word count the lanes do not take.
template <class Run>
void laneDispatch(std::size_t n, std::size_t lanes, Run&& run) {
    const auto groups = [&]<std::size_t L>() {
        if (lanes <= kLanesPerVector)
            run.template operator()<L, 1>();
        else
            run.template operator()<L, 2>();
    };
    switch (n) {
        case 4:
            return groups.template operator()<laneDigitsFor(4)>();
        case 5:
            return groups.template operator()<laneDigitsFor(5)>();
        case 6:
            return groups.template operator()<laneDigitsFor(6)>();
        case 7:
            return groups.template operator()<laneDigitsFor(7)>();
        case 8:
            return groups.template operator()<laneDigitsFor(8)>();
        default:
            return;
    }
}

// The public modulus 2^(64n) - 1 of the lanes a call leaves empty.
inline MontModulus laneStandIn(std::size_t n) {
    MontModulus standIn;
    standIn.n = n;
    standIn.m0inv = 1;  // -(2^(64n) - 1)^-1 mod 2^64
    for (std::size_t i = 0; i < n; i++) standIn.m[i] = ~Word{0};
    standIn.one[0] = 1;  // 2^(64n) mod 2^(64n) - 1
    standIn.rr[0] = 1;   // 2^(128n) mod 2^(64n) - 1
    return standIn;
}

// For each lane i < lanes: x[i] = the result `exponentiate(s, in)` leaves in
// lane i of s.acc (s a State: LaneForms or LaneState), from x[i] in the
// engine's Montgomery form modulo *mods[i] (n words each,
// laneDigitsFor(n) == L, lanes <= 8G) and back, below the modulus. The
// lanes past `lanes` hold 0 modulo 2^(64n) - 1 with exponent 0.
template <class State, std::size_t L, std::size_t G, class Exponentiate>
void laneRunWords(std::size_t lanes, const MontModulus* const* mods, Word* const* x, const NN_DIGIT* const* e,
                  const IfmaPairConstants* const* cached, Exponentiate&& exponentiate) {
    const std::size_t n = mods[0]->n;
    const MontModulus standIn = laneStandIn(n);
    static constexpr Word zeroWords[kMaxWords] = {};
    static constexpr NN_DIGIT zeroDigits[MAX_NN_DIGITS] = {};

    LaneInputs in;
    for (std::size_t lane = 0; lane < G * kLanesPerVector; lane++) {
        const bool real = lane < lanes;
        in.mods[lane] = real ? mods[lane] : &standIn;
        in.x[lane] = real ? x[lane] : zeroWords;
        in.e[lane] = real && e != nullptr ? e[lane] : zeroDigits;
        in.cached[lane] = real && cached != nullptr ? cached[lane] : nullptr;
    }
    State s;
    laneSetUp<L, G>(s, in);
    exponentiate(s, in);

    laneTakeOut(x, lanes, mods, s.acc);
    secure_zero_object(s);
}

// For each lane i < lanes: x[i] = x[i]^e[i] modulo *mods[i], all in the
// engine's Montgomery form, n words each (laneDigitsFor(n) == L,
// lanes <= 8G), by the fixed window. The lanes past `lanes` compute 0^0
// modulo 2^(64n) - 1.
template <class Vec, std::size_t L, std::size_t G>
void laneModExpWords(std::size_t lanes, const MontModulus* const* mods, Word* const* x, const NN_DIGIT* const* e,
                     std::size_t digits, const IfmaPairConstants* const* cached = nullptr) {
    laneRunWords<LaneState<L, G>, L, G>(lanes, mods, x, e, cached, [&](LaneState<L, G>& s, const LaneInputs& in) {
        laneModExp<Vec>(s, in, digits);
    });
}

// For each lane i < lanes: x[i] = x[i]^e modulo *mods[i], in the engine's
// Montgomery form as laneModExpWords takes them, for one public exponent e
// (eDigits digits, not zero): moduli and values secret, e public.
template <class Vec, std::size_t L, std::size_t G>
void lanePublicExponentWords(std::size_t lanes, const MontModulus* const* mods, Word* const* x, const NN_DIGIT* e,
                             std::size_t eDigits, const IfmaPairConstants* const* cached = nullptr) {
    laneRunWords<LaneForms<L, G>, L, G>(lanes, mods, x, nullptr, cached, [&](LaneForms<L, G>& s, const LaneInputs&) {
        lanePublicExponent<Vec>(s, e, eDigits);
    });
}

// What a reduction keeps in memory; all of it is secret and wiped.
template <std::size_t L, std::size_t G>
struct alignas(64) LaneReduction : LaneModuli<L, G> {
    LaneNumbers<L, G> low, high;  // the input's low and high n words
    LaneNumbers<L, G> intoForm;   // 2^(104L - 64n) mod m
    LaneNumbers<L, G> square;     // 2^(128n) mod m
    LaneNumbers<L, G> factor;
};

// r = a + b, every digit carried below 2^52 again (a + b < 2^(52L)).
template <class Vec, std::size_t L, std::size_t G>
void laneAdd(LaneNumbers<L, G>& r, const LaneNumbers<L, G>& a, const LaneNumbers<L, G>& b) {
    using V = typename Vec::V;
    for (std::size_t g = 0; g < G; g++) {
        V carry = Vec::zero();
        CORVANE_UNROLL
        for (std::size_t j = 0; j < L; j++) {
            const V sum = Vec::add(Vec::add(Vec::load(a.d[g][j]), Vec::load(b.d[g][j])), carry);
            carry = Vec::shiftDigit(sum);
            Vec::store(r.d[g][j], j + 1 < L ? Vec::lowDigit(sum) : sum);
        }
    }
}

// For each lane i < lanes: out[i] = in[i] 2^(64n) modulo *mods[i], the
// engine's Montgomery form of a number of 2n words (below 2^(128n)), below
// the modulus: what toMont gives for 2n words, for lanes <= 8G moduli of n
// words (laneDigitsFor(n) == L). With R = 2^(52L), a (x) b = a b / R in the
// lanes, in = high 2^(64n) + low and I = 2^(104L - 64n) (the factor into
// the lanes' form): low (x) I + high (x) ((I (x) 2^(128n)) (x) I) is
// in 2^(-64n) R, below 2.75m (operands below 2^(64n) <= R/4 and factors
// below 2m leave products below m/2 + m); times 2^(128n) over R, below
// 1.7m, it is in 2^(64n). The sequence of operations depends on lanes, n, G
// and which lanes have cached digits.
template <class Vec, std::size_t L, std::size_t G>
void laneReduceWords(std::size_t lanes, const MontModulus* const* mods, const Word* const* in, Word* const* out,
                     const IfmaPairConstants* const* cached = nullptr) {
    const std::size_t n = mods[0]->n;
    const MontModulus standIn = laneStandIn(n);
    static_assert(2 * 8 <= kMaxWords, "inputs of 2n words for moduli of up to 8 words");
    static constexpr Word zeroWords[kMaxWords] = {};

    LaneInputs lanesIn;
    for (std::size_t lane = 0; lane < G * kLanesPerVector; lane++) {
        const bool real = lane < lanes;
        lanesIn.mods[lane] = real ? mods[lane] : &standIn;
        lanesIn.x[lane] = real ? in[lane] : zeroWords;
        lanesIn.cached[lane] = real && cached != nullptr ? cached[lane] : nullptr;
    }
    LaneReduction<L, G> s;
    for (std::size_t lane = 0; lane < G * kLanesPerVector; lane++) {
        const std::size_t g = lane / kLanesPerVector, k = lane % kLanesPerVector;
        laneModulus(s, s.intoForm, s.factor, lanesIn, lane);  // factor: 2^(64n), unused here
        putLane(s.square, g, k, lanesIn.mods[lane]->rr, n);
        putLane(s.low, g, k, lanesIn.x[lane], n);
        putLane(s.high, g, k, lanesIn.x[lane] + n, n);
    }
    laneMul<Vec>(s.factor, s.intoForm, s.square, s);
    laneMul<Vec>(s.factor, s.factor, s.intoForm, s);
    laneMul<Vec>(s.high, s.high, s.factor, s);
    laneMul<Vec>(s.low, s.low, s.intoForm, s);
    laneAdd<Vec>(s.low, s.low, s.high);
    laneMul<Vec>(s.low, s.low, s.square, s);

    laneTakeOut(out, lanes, mods, s.low);
    secure_zero_object(s);
}

}  // namespace
}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_MONTGOMERY_IFMA_LANES_KERNEL_H
