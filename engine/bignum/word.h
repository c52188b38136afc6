// The machine word of the arithmetic engine and the few operations on it
// that everything else is built from.
//
// The engine works on 64-bit words with unsigned __int128 products where the
// compiler offers that type. Configuring with CORVANE_ENGINE_WORD32 (the
// CMake option of the same name) selects 32-bit words with 64-bit products
// instead, for compilers without a 128-bit type; CI builds and tests that
// variant too, so both stay correct.
//
// Numbers are arrays of words, least significant first, like the package's
// digit arrays; the conversions below never look at the host's byte order.
#ifndef CORVANE_ENGINE_WORD_H
#define CORVANE_ENGINE_WORD_H

#include <Corvane/nn.h>

#include <cstddef>
#include <cstdint>

namespace corvane::engine {

#if defined(CORVANE_ENGINE_WORD32)
using Word = std::uint32_t;
using DWord = std::uint64_t;
#else
#if !defined(__SIZEOF_INT128__)
#error "no 128-bit integer type: configure with -DCORVANE_ENGINE_WORD32=ON"
#endif
using Word = std::uint64_t;
__extension__ typedef unsigned __int128 DWord;
#endif

constexpr unsigned kWordBits = 8 * sizeof(Word);
constexpr unsigned kDigitBits = 32;
constexpr unsigned kDigitsPerWord = kWordBits / kDigitBits;
static_assert(sizeof(NN_DIGIT) * 8 == kDigitBits);
static_assert(sizeof(DWord) == 2 * sizeof(Word));
static_assert(kDigitsPerWord == 1 || kDigitsPerWord == 2);

// Words needed for the package's capacity (33 digits, 1056 bits).
constexpr std::size_t kMaxWords = (MAX_NN_DIGITS + kDigitsPerWord - 1) / kDigitsPerWord;

constexpr std::size_t wordsForDigits(std::size_t digits) {
    return (digits + kDigitsPerWord - 1) / kDigitsPerWord;
}

// hi:lo = a * b + c + d; never overflows a double word.
inline Word mulAdd2(Word& hi, Word a, Word b, Word c, Word d) {
    DWord t = static_cast<DWord>(a) * b + c + d;
    hi = static_cast<Word>(t >> kWordBits);
    return static_cast<Word>(t);
}

// a + b + carryIn (0 or 1); carryOut receives 0 or 1.
inline Word addCarry(Word a, Word b, Word carryIn, Word& carryOut) {
    DWord t = static_cast<DWord>(a) + b + carryIn;
    carryOut = static_cast<Word>(t >> kWordBits);
    return static_cast<Word>(t);
}

// a - b - borrowIn (0 or 1); borrowOut receives 0 or 1.
inline Word subBorrow(Word a, Word b, Word borrowIn, Word& borrowOut) {
    DWord t = static_cast<DWord>(a) - b - borrowIn;
    borrowOut = static_cast<Word>(t >> kWordBits) & 1;
    return static_cast<Word>(t);
}

// Digits (32-bit, least significant first) to words; `words` words are
// written, taking digits beyond `digits` as zero.
inline void wordsFromDigits(Word* w, std::size_t words, const NN_DIGIT* d, std::size_t digits) {
    for (std::size_t i = 0; i < words; i++) {
        Word x = 0;
        for (unsigned k = 0; k < kDigitsPerWord; k++) {
            const std::size_t at = i * kDigitsPerWord + k;
            if (at < digits) x |= static_cast<Word>(d[at]) << (k * kDigitBits);
        }
        w[i] = x;
    }
}

// Words to `digits` digits, taking words beyond `words` as zero.
inline void digitsFromWords(NN_DIGIT* d, std::size_t digits, const Word* w, std::size_t words) {
    for (std::size_t at = 0; at < digits; at++) {
        const std::size_t i = at / kDigitsPerWord;
        const unsigned k = static_cast<unsigned>(at % kDigitsPerWord);
        d[at] = i < words ? static_cast<NN_DIGIT>(w[i] >> (k * kDigitBits)) : 0;
    }
}

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_WORD_H
