// Long division on words (Knuth's algorithm D): quotient digits estimated
// from the top two words of the partial remainder and the top word of the
// normalised divisor, corrected at most twice, then one multiply-and-
// subtract per quotient word. Its running time depends on the values; it
// serves public operands only (division, modular products, R^2 mod a public
// modulus).
#ifndef CORVANE_ENGINE_DIVISION_H
#define CORVANE_ENGINE_DIVISION_H

#include <cstddef>

#include "engine/bignum/word.h"

namespace corvane::engine {

// Dividends of up to 2 * kMaxWords + 1 words: twice the package's capacity
// (66 digits) and R^2 = 2^(2 W kMaxWords) for the largest modulus.
constexpr std::size_t kMaxDividendWords = 2 * kMaxWords + 1;
static_assert(kMaxDividendWords >= wordsForDigits(2 * MAX_NN_DIGITS));

// q = u div v (un - vn + 1 words, or none when un < vn) and r = u mod v
// (vn words). v has vn >= 1 words with v[vn - 1] != 0; un <= kMaxDividendWords,
// vn <= kMaxWords. q and r may alias neither each other nor the inputs.
void divideWords(Word* q, Word* r, const Word* u, std::size_t un, const Word* v, std::size_t vn);

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_DIVISION_H
