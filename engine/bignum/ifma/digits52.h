// Numbers as 52-bit digits, the form both IFMA kernels compute in (the
// multiply-add instructions take 52-bit operands): the digit count a
// modulus needs and the conversions from and to the engine's 64-bit words.
//
// In an unnamed namespace, as the kernels that include it: each file gets
// its own copy, so a copy compiled inside AVX-512 code can never stand in
// for one that runs elsewhere.
#ifndef CORVANE_ENGINE_DIGITS52_H
#define CORVANE_ENGINE_DIGITS52_H

#include <cstddef>
#include <cstdint>

#include "engine/bignum/word.h"

namespace corvane::engine {
namespace {

constexpr unsigned kDigit52Bits = 52;
constexpr std::uint64_t kDigit52Mask = (std::uint64_t{1} << kDigit52Bits) - 1;

// Residues are kept in Montgomery form for R = 2^(52L), below 2m but not
// necessarily below m: with 4m <= R the product of two such residues is
// again below 2m, so no product needs a final subtraction; only the way out
// does. L for an n-word modulus is the least digit count with 4m <= 2^(52L).
constexpr std::size_t digits52For(std::size_t n) { return (kWordBits * n + 2 + kDigit52Bits - 1) / kDigit52Bits; }

// Digit j of the n-word number w (0 beyond its top).
inline std::uint64_t digit52Of(const Word* w, std::size_t n, std::size_t j) {
    const std::size_t bit = kDigit52Bits * j, i = bit / kWordBits;
    const unsigned shift = static_cast<unsigned>(bit % kWordBits);
    std::uint64_t digit = i < n ? w[i] >> shift : 0;
    if (shift > kWordBits - kDigit52Bits && i + 1 < n) digit |= w[i + 1] << (kWordBits - shift);
    return digit & kDigit52Mask;
}

// Word i of the number whose `count` digits, each below 2^52, d holds: the
// two or three digits that overlap it, at positions that depend on i only.
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

}  // namespace
}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_DIGITS52_H
