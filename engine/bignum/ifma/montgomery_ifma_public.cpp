// The vector code carries its own target attribute instead of the file
// being compiled for AVX-512, so that the inline helpers shared with the
// rest of the engine (limbs.h, exponent.h) stay plain x86-64 code.
#include "engine/bignum/ifma/montgomery_ifma_public.h"

#include <cstdint>

#include "engine/bignum/exponent.h"
#include "engine/bignum/limbs.h"
#include "platform/secure_zero.h"

#if CORVANE_ENGINE_HAS_IFMA
#include "engine/bignum/ifma/ifma_chains.h"
#endif

namespace corvane::engine {

#if CORVANE_ENGINE_HAS_IFMA

namespace {

// The most vectors of eight 52-bit digits a number takes here: 16 words
// need 20 digits.
constexpr std::size_t kMaxVectors = 3;
static_assert(8 * kMaxVectors >= digits52For(16));

// r (n words, below m) = the value of normalised digits x, which is below
// 2m.
template <std::size_t V>
void fromDigitsReduced(Word* r, const Digits<V>& x, const MontModulus& mod) {
    const std::size_t n = mod.n;
    Word words[kMaxWords], scratch[kMaxWords];
    const Word top = fromDigits(words, n, x);
    reduceOnce(r, words, top, mod.m, scratch, n);
    secure_zero_object(words);
    secure_zero_object(scratch);
}

// r = a * b / 2^(52L) mod m for a * b below 2^(52L) * 2m: one chain of
// mulChains (ifma_chains.h), whose latency is the whole cost. The result
// is below 2m, so a and b below 2m (4m <= 2^(52L)) keep every product of
// an exponentiation in range. r may alias a or b.
template <std::size_t V, std::size_t L>
CORVANE_IFMA_TARGET __attribute__((always_inline)) inline void mul(Lanes<V>& r, const Lanes<V>& a,
                                                                   const Lanes<V>& b, const ModulusLanes<V>& md) {
    Lanes<V> out[1];
    const Lanes<V> as[1] = {a}, bs[1] = {b};
    const ModulusLanes<V> mds[1] = {md};
    mulChains<1, V, L>(out, as, bs, mds);
    r = out[0];
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
CORVANE_IFMA_TARGET void raiseDigits(RaiseState<V>& s, const PublicForm<V>& form, const MontModulus& mod,
                                            const NN_DIGIT* e, std::size_t digits) {
    const ModulusLanes<V> md = modulusLanes(form.mDigits, mod.m0inv);
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
CORVANE_IFMA_TARGET void mulDigits(Digits<V>& r, const Digits<V>& a, const Digits<V>& b,
                                          const PublicForm<V>& form, const MontModulus& mod) {
    const ModulusLanes<V> md = modulusLanes(form.mDigits, mod.m0inv);
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

}  // namespace

void raisePlainIfma(const MontModulus& mod, Word* r, const Word* x, const NN_DIGIT* e, std::size_t digits) noexcept {
    withDigitCount(mod.n, [&]<std::size_t V, std::size_t L>() { raiseWith<V, L>(mod, r, x, e, digits); });
}

void montMulPublicIfma(const MontModulus& mod, Word* r, const Word* a, const Word* b) noexcept {
    withDigitCount(mod.n, [&]<std::size_t V, std::size_t L>() { mulWith<V, L>(mod, r, a, b); });
}

#else

void raisePlainIfma(const MontModulus&, Word*, const Word*, const NN_DIGIT*, std::size_t) noexcept {}

void montMulPublicIfma(const MontModulus&, Word*, const Word*, const Word*) noexcept {}

#endif

}  // namespace corvane::engine
