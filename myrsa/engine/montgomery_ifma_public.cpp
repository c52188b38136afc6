// The vector code carries its own target attribute instead of the file
// being compiled for AVX-512, so that the inline helpers shared with the
// rest of the engine (limbs.h, exponent.h) stay plain x86-64 code.
#include "engine/montgomery_ifma_public.h"

#include <cstdint>

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

#define CORVANE_IFMA_PUBLIC_TARGET __attribute__((target("avx512f,avx512bw,avx512ifma")))

namespace {

// The most vectors of eight 52-bit digits a number takes here: 16 words
// need 20 digits.
constexpr std::size_t kMaxVectors = 3;
static_assert(8 * kMaxVectors >= digits52For(16));

// A number as 52-bit digits, least significant first, one per 64-bit lane,
// in V vectors; lanes above the modulus's digit count are 0.
template <std::size_t V>
struct alignas(64) Digits {
    std::uint64_t d[8 * V];
};

template <std::size_t V>
void toDigits(Digits<V>& out, const Word* w, std::size_t n) {
    for (std::size_t j = 0; j < 8 * V; j++) out.d[j] = digit52Of(w, n, j);
}

// Word i of the normalised digits d (count of them): the two or three
// digits that overlap it, at positions that depend on i only. (word52At
// finds them by visiting every digit, which the conversion out, once per
// exponentiation, cannot afford at 16 words.)
inline Word wordOfDigits(const std::uint64_t* d, std::size_t count, std::size_t i) {
    const std::size_t bit = kWordBits * i, j = bit / kDigit52Bits;
    const unsigned shift = static_cast<unsigned>(bit % kDigit52Bits);
    Word w = j < count ? d[j] >> shift : 0;
    for (std::size_t k = 1; k <= 2; k++) {
        const std::size_t at = kDigit52Bits * k - shift;  // where digit j + k starts in the word
        if (at < kWordBits && j + k < count) w |= d[j + k] << at;
    }
    return w;
}

// r (n words, below m) = the value of normalised digits x, which is below
// 2m.
template <std::size_t V>
void fromDigitsReduced(Word* r, const Digits<V>& x, const MontModulus& mod) {
    const std::size_t n = mod.n;
    Word words[kMaxWords], scratch[kMaxWords];
    for (std::size_t i = 0; i < n; i++) words[i] = wordOfDigits(x.d, 8 * V, i);
    reduceOnce(r, words, wordOfDigits(x.d, 8 * V, n), mod.m, scratch, n);
    secure_zero_object(words);
    secure_zero_object(scratch);
}

template <std::size_t V>
struct Lanes {
    __m512i v[V];
};

template <std::size_t V>
CORVANE_IFMA_PUBLIC_TARGET inline Lanes<V> load(const Digits<V>& d) {
    Lanes<V> x;
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) x.v[v] = _mm512_load_si512(d.d + 8 * v);
    return x;
}

template <std::size_t V>
CORVANE_IFMA_PUBLIC_TARGET inline void store(Digits<V>& d, const Lanes<V>& x) {
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) _mm512_store_si512(d.d + 8 * v, x.v[v]);
}

CORVANE_IFMA_PUBLIC_TARGET inline __m512i broadcastLowest(__m512i x) {
    return _mm512_broadcastq_epi64(_mm512_castsi512_si128(x));
}

// Digit i of x in every lane.
template <std::size_t V>
CORVANE_IFMA_PUBLIC_TARGET inline __m512i broadcastDigit(const Lanes<V>& x, std::size_t i) {
    if (i == 0) return broadcastLowest(x.v[0]);
    return _mm512_permutexvar_epi64(_mm512_set1_epi64(static_cast<long long>(i % 8)), x.v[i / 8]);
}

// Brings every lane below 2^52 without changing the value, which must be
// below 2^(52 * 8V). Each lane first passes its bits above 52 to the next
// lane; after that at most a single carry leaves a lane, and where it lands
// (rippling through lanes of all ones) comes from one addition on the
// lanes' compare bits, as in a carry-lookahead adder: no branch, whatever
// the digits.
template <std::size_t V>
CORVANE_IFMA_PUBLIC_TARGET inline void normalise(__m512i (&x)[V]) {
    static_assert(V <= kMaxVectors);
    const __m512i mask = _mm512_set1_epi64(static_cast<long long>(kDigit52Mask));
    __m512i carry[V];
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) {
        carry[v] = _mm512_srli_epi64(x[v], kDigit52Bits);
        x[v] = _mm512_and_si512(x[v], mask);
    }
    std::uint32_t generate = 0, propagate = 0;
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) {
        const __m512i below = v == 0 ? _mm512_setzero_si512() : carry[v - 1];
        x[v] = _mm512_add_epi64(x[v], _mm512_alignr_epi64(carry[v], below, 7));
        generate |= static_cast<std::uint32_t>(_mm512_cmpgt_epu64_mask(x[v], mask)) << (8 * v);
        propagate |= static_cast<std::uint32_t>(_mm512_cmpeq_epu64_mask(x[v], mask)) << (8 * v);
    }
    const std::uint32_t carryIn = ((generate << 1) + propagate) ^ propagate;
    const __m512i one = _mm512_set1_epi64(1);
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) {
        const auto take = static_cast<__mmask8>(carryIn >> (8 * v));
        x[v] = _mm512_and_si512(_mm512_mask_add_epi64(x[v], take, x[v], one), mask);
    }
}

// A modulus in registers: its digits, the same moved down one digit, and
// in every lane -m^-1 mod 2^52 and digits 0 and 1.
template <std::size_t V>
struct ModulusLanes {
    Lanes<V> m, mDown;
    __m512i k0, m0, m1;
};

// r = a * b / 2^(52L) mod m, L digits, for a * b below 2^(52L) * 2m; the
// result is below 2m (so a and b below 2m, with 4m <= 2^(52L), keep every
// product of a chain in range). Operand scanning: for each digit b[i],
// acc += a * b[i] + m * q with q chosen so that the lowest digit vanishes,
// then acc moves down one digit.
//
// One chain, so its latency is the whole cost: the step from one q to the
// next is kept inside the vector registers and short. The lowest digit t
// of acc lives in every lane of tLanes, so q is one multiply-add away (only
// t's low 52 bits count: the digits need no normalising between steps);
// acc moves without waiting for q, the terms that land on its digits (m * q
// from m moved down one digit, the high halves of a * b[i] and low halves
// of a * b[i+1] in y, and the carry out of the vanishing digit, which is t
// rounded up to a multiple of 2^52 whatever q is) summed beside it; and
// the next t is that same sum for lane 0 alone, computed in every lane from
// broadcast digits. The next t also reads acc's lane 1, so acc's own update
// is kept to one multiply-add after q. r may alias a or b.
template <std::size_t V, std::size_t L>
CORVANE_IFMA_PUBLIC_TARGET __attribute__((always_inline)) inline void mul(Lanes<V>& r, const Lanes<V>& a,
                                                                          const Lanes<V>& b,
                                                                          const ModulusLanes<V>& md) {
    static_assert(L >= 2 && L <= 8 * V && 8 * V < L + 8);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i roundUp = _mm512_set1_epi64(static_cast<long long>(kDigit52Mask));
    const __m512i laneOne = _mm512_set1_epi64(1);
    __m512i acc[V], y[V];
    const __m512i b0 = broadcastDigit(b, 0);
    __m512i bNext = broadcastDigit(b, 1);
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) {
        acc[v] = _mm512_madd52lo_epu64(zero, a.v[v], b0);
        y[v] = _mm512_madd52lo_epu64(_mm512_madd52hi_epu64(zero, a.v[v], b0), a.v[v], bNext);
    }
    __m512i tLanes = _mm512_madd52lo_epu64(zero, broadcastLowest(a.v[0]), b0);

    CORVANE_UNROLL
    for (std::size_t i = 0; i < L; i++) {
        const __m512i q = _mm512_madd52lo_epu64(zero, tLanes, md.k0);
        const __m512i carry = _mm512_srli_epi64(_mm512_add_epi64(tLanes, roundUp), kDigit52Bits);
        const bool last = i + 1 == L;
        if (!last) {
            const __m512i yLow = _mm512_add_epi64(broadcastLowest(y[0]), carry);
            const __m512i accNext = _mm512_permutexvar_epi64(laneOne, acc[0]);
            tLanes = _mm512_add_epi64(_mm512_madd52lo_epu64(yLow, md.m1, q), _mm512_madd52hi_epu64(accNext, md.m0, q));
        }
        y[0] = _mm512_mask_add_epi64(y[0], 1, y[0], carry);
        CORVANE_UNROLL
        for (std::size_t v = 0; v < V; v++) {
            // The two halves of m * q side by side, each onto its own
            // addend, then one addition: acc is ready one multiply-add
            // after q rather than two, and the next step's t waits on it.
            const __m512i moved = _mm512_alignr_epi64(v + 1 < V ? acc[v + 1] : zero, acc[v], 1);
            acc[v] = _mm512_add_epi64(_mm512_madd52lo_epu64(y[v], md.mDown.v[v], q),
                                      _mm512_madd52hi_epu64(moved, md.m.v[v], q));
        }
        if (!last) {
            const __m512i bAfter = i + 2 < L ? broadcastDigit(b, i + 2) : zero;
            CORVANE_UNROLL
            for (std::size_t v = 0; v < V; v++) {
                y[v] = _mm512_madd52hi_epu64(zero, a.v[v], bNext);
                if (i + 2 < L) y[v] = _mm512_madd52lo_epu64(y[v], a.v[v], bAfter);
            }
            bNext = bAfter;
        }
    }
    normalise(acc);
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) r.v[v] = acc[v];
}

// The constants of one modulus in this form, computed once per modulus and
// kept for the next call, which is most often under the same key (the
// legacy functions set their key up on every call). Public values only.
template <std::size_t V>
struct PublicForm {
    std::size_t n = 0;
    Word m[kMaxWords] = {};
    Digits<V> mDigits{};
    Digits<V> squared{};  // 2^(104L) mod m: x times it, over 2^(52L), is x in the form
};

template <std::size_t V, std::size_t L>
const PublicForm<V>& publicFormOf(const MontModulus& mod) {
    thread_local PublicForm<V> form;
    const std::size_t n = mod.n;
    bool same = form.n == n;
    for (std::size_t i = 0; same && i < n; i++) same = form.m[i] == mod.m[i];
    if (!same) {
        // 2^(104L) = 2^(128n) (mod.rr) doubled 104L - 128n times, modulo m.
        Word power[kMaxWords], scratch[kMaxWords];
        for (std::size_t i = 0; i < n; i++) power[i] = mod.rr[i];
        for (std::size_t k = 0; k < 2 * kDigit52Bits * L - 2 * kWordBits * n; k++)
            modAdd(power, power, power, mod.m, scratch, n);
        toDigits(form.squared, power, n);
        toDigits(form.mDigits, mod.m, n);
        for (std::size_t i = 0; i < n; i++) form.m[i] = mod.m[i];
        form.n = n;
    }
    return form;
}

template <std::size_t V>
CORVANE_IFMA_PUBLIC_TARGET ModulusLanes<V> modulusLanes(const PublicForm<V>& form, const MontModulus& mod) {
    ModulusLanes<V> md;
    md.m = load(form.mDigits);
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++)
        md.mDown.v[v] =
            _mm512_alignr_epi64(v + 1 < V ? md.m.v[v + 1] : _mm512_setzero_si512(), md.m.v[v], 1);
    md.k0 = _mm512_set1_epi64(static_cast<long long>(mod.m0inv & kDigit52Mask));
    md.m0 = _mm512_set1_epi64(static_cast<long long>(form.mDigits.d[0]));
    md.m1 = _mm512_set1_epi64(static_cast<long long>(form.mDigits.d[1]));
    return md;
}

// What the exponentiation keeps in memory: the value raised (in and out)
// and the window's odd powers, of which it reports how many it filled.
// Wiped by the caller, as far as filled.
template <std::size_t V>
struct RaiseState {
    Digits<V> x, unit;
    std::size_t oddFilled;
    Digits<V> odd[16];
};

// s.x = s.x^e mod m (plain in, plain out below 2m, normalised) for e whose
// value is not zero. The sliding window of modExpSlidingWindow
// (exponent.h), run on e - 1 for an odd e: the last product then takes the
// plain x, which leaves the form and raises to the final power at once.
template <std::size_t V, std::size_t L>
CORVANE_IFMA_PUBLIC_TARGET void raiseDigits(RaiseState<V>& s, const PublicForm<V>& form, const MontModulus& mod,
                                            const NN_DIGIT* e, std::size_t digits) {
    const ModulusLanes<V> md = modulusLanes(form, mod);
    const Lanes<V> plain = load(s.x);
    Lanes<V> base;
    mul<V, L>(base, plain, load(form.squared), md);

    const bool odd = (e[0] & 1u) != 0;
    auto bit = [&](std::size_t at) {
        return at == 0 && odd ? Word{0} : exponentBits(e, digits, at, 1);
    };
    auto bitsAt = [&](std::size_t at, unsigned len) {
        Word value = exponentBits(e, digits, at, len);
        return at == 0 && odd ? value & ~Word{1} : value;
    };
    std::size_t bits = kDigitBits * digits;
    while (bits > 0 && bit(bits - 1) == 0) bits--;

    Lanes<V> acc;
    if (bits == 0) {
        // e = 1: the form of 1, which the last product turns into x.
        mul<V, L>(acc, load(form.squared), load(s.unit), md);
    } else {
        const unsigned width = bits > 256 ? 5 : bits > 64 ? 4 : 1;
        s.oddFilled = std::size_t{1} << (width - 1);
        store(s.odd[0], base);
        if (width > 1) {
            Lanes<V> square, power = base;
            mul<V, L>(square, base, base, md);
            for (std::size_t i = 1; i < (std::size_t{1} << (width - 1)); i++) {
                mul<V, L>(power, power, square, md);
                store(s.odd[i], power);
            }
        }
        acc = base;
        std::size_t i = bits - 1;
        while (i-- > 0) {
            if (bit(i) == 0) {
                mul<V, L>(acc, acc, acc, md);
                continue;
            }
            unsigned len = width < i + 1 ? width : static_cast<unsigned>(i + 1);
            while (bit(i + 1 - len) == 0) len--;
            const Word value = bitsAt(i + 1 - len, len);
            for (unsigned k = 0; k < len; k++) mul<V, L>(acc, acc, acc, md);
            mul<V, L>(acc, acc, load(s.odd[value >> 1]), md);
            i -= len - 1;
        }
    }
    mul<V, L>(acc, acc, odd ? plain : load(s.unit), md);
    store(s.x, acc);
}

template <std::size_t V, std::size_t L>
void raiseWith(const MontModulus& mod, Word* r, const Word* x, const NN_DIGIT* e, std::size_t digits) {
    static_assert(V == (L + 7) / 8);
    bool zero = true;
    for (std::size_t i = 0; i < digits; i++) zero = zero && e[i] == 0;
    if (zero) {
        // x^0 = 1, below every modulus above 1.
        r[0] = 1;
        for (std::size_t i = 1; i < mod.n; i++) r[i] = 0;
        return;
    }
    const PublicForm<V>& form = publicFormOf<V, L>(mod);
    RaiseState<V> s;
    toDigits(s.x, x, mod.n);
    s.unit = Digits<V>{};
    s.unit.d[0] = 1;
    s.oddFilled = 0;
    raiseDigits<V, L>(s, form, mod, e, digits);
    fromDigitsReduced(r, s.x, mod);
    // The base may be a secret (the private result under the check).
    secure_zero_object(s.x);
    secure_zero(s.odd, sizeof(Digits<V>) * s.oddFilled);
}

template <std::size_t V, std::size_t L>
CORVANE_IFMA_PUBLIC_TARGET void mulDigits(Digits<V>& r, const Digits<V>& a, const Digits<V>& b,
                                          const PublicForm<V>& form, const MontModulus& mod) {
    const ModulusLanes<V> md = modulusLanes(form, mod);
    Lanes<V> x;
    mul<V, L>(x, load(a), load(b), md);
    store(r, x);
}

template <std::size_t V, std::size_t L>
void mulWith(const MontModulus& mod, Word* r, const Word* a, const Word* b) {
    const PublicForm<V>& form = publicFormOf<V, L>(mod);
    Digits<V> x, y;
    toDigits(x, a, mod.n);
    toDigits(y, b, mod.n);
    mulDigits<V, L>(x, x, y, form, mod);
    fromDigitsReduced(r, x, mod);
    secure_zero_object(x);
    secure_zero_object(y);
}

// Calls f<V, L>() with the digit counts of mod's size fixed at compile time,
// so that the compiler unrolls and schedules each product whole.
template <class F>
void withDigitCount(std::size_t n, F&& f) {
#define CORVANE_IFMA_PUBLIC_SIZE(words)                                                    \
    case words:                                                                            \
        return f.template operator()<(digits52For(words) + 7) / 8, digits52For(words)>();
    switch (n) {
        CORVANE_IFMA_PUBLIC_SIZE(9)
        CORVANE_IFMA_PUBLIC_SIZE(10)
        CORVANE_IFMA_PUBLIC_SIZE(11)
        CORVANE_IFMA_PUBLIC_SIZE(12)
        CORVANE_IFMA_PUBLIC_SIZE(13)
        CORVANE_IFMA_PUBLIC_SIZE(14)
        CORVANE_IFMA_PUBLIC_SIZE(15)
        CORVANE_IFMA_PUBLIC_SIZE(16)
        default:
            return;
    }
#undef CORVANE_IFMA_PUBLIC_SIZE
}

template <std::size_t V>
CORVANE_IFMA_PUBLIC_TARGET void normaliseStored(std::uint64_t* digits) {
    __m512i x[V];
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) x[v] = _mm512_loadu_si512(digits + 8 * v);
    normalise(x);
    CORVANE_UNROLL
    for (std::size_t v = 0; v < V; v++) _mm512_storeu_si512(digits + 8 * v, x[v]);
}

}  // namespace

void normalisePublicDigitsIfma(std::uint64_t* digits, std::size_t vectors) noexcept {
    if (vectors == 2) normaliseStored<2>(digits);
    if (vectors == 3) normaliseStored<3>(digits);
}

void raisePlainIfma(const MontModulus& mod, Word* r, const Word* x, const NN_DIGIT* e, std::size_t digits) noexcept {
    withDigitCount(mod.n, [&]<std::size_t V, std::size_t L>() { raiseWith<V, L>(mod, r, x, e, digits); });
}

void montMulPublicIfma(const MontModulus& mod, Word* r, const Word* a, const Word* b) noexcept {
    withDigitCount(mod.n, [&]<std::size_t V, std::size_t L>() { mulWith<V, L>(mod, r, a, b); });
}

#else

void normalisePublicDigitsIfma(std::uint64_t*, std::size_t) noexcept {}

void raisePlainIfma(const MontModulus&, Word*, const Word*, const NN_DIGIT*, std::size_t) noexcept {}

void montMulPublicIfma(const MontModulus&, Word*, const Word*, const Word*) noexcept {}

#endif

}  // namespace corvane::engine
