// Modular exponentiation over a Montgomery backend (see montgomery.h): a
// constant-time fixed window for secret exponents and a variable-time
// sliding window for public ones. Both take the exponent as 32-bit digits,
// least significant first, as the package stores it, and work on residues
// in Montgomery form.
#ifndef CORVANE_ENGINE_EXPONENT_H
#define CORVANE_ENGINE_EXPONENT_H

#include <Corvane/nn.h>

#include <cstddef>
#include <cstdint>

#include "engine/bignum/word.h"
#include "platform/secure_zero.h"

namespace corvane::engine {

// The `width` bits of the exponent starting at bit `position` (bits beyond
// the digits read as zero). Positions are public; the value may be secret
// and is only ever used through masks.
inline Word exponentBits(const NN_DIGIT* e, std::size_t digits, std::size_t position, unsigned width) {
    const std::size_t at = position / kDigitBits;
    const unsigned shift = static_cast<unsigned>(position % kDigitBits);
    std::uint64_t window = at < digits ? e[at] : 0;
    if (at + 1 < digits) window |= static_cast<std::uint64_t>(e[at + 1]) << kDigitBits;
    return static_cast<Word>((window >> shift) & ((std::uint64_t{1} << width) - 1));
}

// Window width for an exponent of `bits` bits: wider windows save
// multiplications but cost a larger table, built once and read in full at
// every window.
constexpr unsigned fixedWindowWidth(std::size_t bits) {
    return bits > 384 ? 5 : bits > 96 ? 4 : bits > 24 ? 3 : bits > 0 ? 2 : 1;
}

// result = base^e in Montgomery form, with e of `digits` digits. The
// sequence of operations and of memory addresses depends on `digits` only:
// every window squares `width` times and multiplies once by an entry that is
// selected by reading the whole table under masks. result may alias base.
template <class Backend>
void modExpFixedWindow(const Backend& backend, typename Backend::Element& result,
                       const typename Backend::Element& base, const NN_DIGIT* e, std::size_t digits) {
    using Element = typename Backend::Element;
    const std::size_t bits = kDigitBits * digits;
    if (bits == 0) {
        backend.one(result);
        return;
    }
    const unsigned width = fixedWindowWidth(bits);
    const std::size_t entries = std::size_t{1} << width;

    // table[i] = base^i; even powers by squaring, which is cheaper.
    Element table[32];
    backend.one(table[0]);
    table[1] = base;
    for (std::size_t i = 2; i < entries; i++) {
        if (i % 2 == 0)
            backend.sqr(table[i], table[i / 2]);
        else
            backend.mul(table[i], table[i - 1], table[1]);
    }

    // The top window holds what is left over when bits is not a multiple of width.
    const std::size_t windows = (bits + width - 1) / width;
    const unsigned topWidth = static_cast<unsigned>(bits - (windows - 1) * width);
    Element acc, factor;
    backend.select(acc, table, entries, exponentBits(e, digits, (windows - 1) * width, topWidth));
    for (std::size_t w = windows - 1; w-- > 0;) {
        for (unsigned s = 0; s < width; s++) backend.sqr(acc, acc);
        backend.select(factor, table, entries, exponentBits(e, digits, w * width, width));
        backend.mul(acc, acc, factor);
    }
    result = acc;

    secure_zero(table, sizeof(Element) * entries);
    secure_zero_object(acc);
    secure_zero_object(factor);
}

// result = base^e in Montgomery form for a public exponent e of `digits`
// digits: left to right over the exponent's significant bits, with a
// sliding window of odd powers when the exponent is long enough to repay the
// table. Its time depends on e. result may alias base.
template <class Backend>
void modExpSlidingWindow(const Backend& backend, typename Backend::Element& result,
                         const typename Backend::Element& base, const NN_DIGIT* e, std::size_t digits) {
    using Element = typename Backend::Element;
    std::size_t bits = kDigitBits * digits;
    while (bits > 0 && exponentBits(e, digits, bits - 1, 1) == 0) bits--;
    if (bits == 0) {
        backend.one(result);
        return;
    }
    const unsigned width = bits > 256 ? 5 : bits > 64 ? 4 : 1;

    // odd[i] = base^(2i + 1)
    Element odd[16];
    odd[0] = base;
    if (width > 1) {
        Element square;
        backend.sqr(square, base);
        for (std::size_t i = 1; i < (std::size_t{1} << (width - 1)); i++)
            backend.mul(odd[i], odd[i - 1], square);
        secure_zero_object(square);
    }

    Element acc = base;
    std::size_t i = bits - 1;  // the top bit is in acc
    while (i-- > 0) {
        if (exponentBits(e, digits, i, 1) == 0) {
            backend.sqr(acc, acc);
            continue;
        }
        // The longest window of at most `width` bits ending in a set bit.
        unsigned len = width < i + 1 ? width : static_cast<unsigned>(i + 1);
        while (exponentBits(e, digits, i + 1 - len, 1) == 0) len--;
        const Word value = exponentBits(e, digits, i + 1 - len, len);
        for (unsigned s = 0; s < len; s++) backend.sqr(acc, acc);
        backend.mul(acc, acc, odd[value >> 1]);
        i -= len - 1;
    }
    result = acc;

    // The base may be a secret message (public-key encryption).
    secure_zero(odd, sizeof(Element) * (std::size_t{1} << (width - 1)));
    secure_zero_object(acc);
}

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_EXPONENT_H
