// Constant-time building blocks: masks instead of branches, and reads that
// touch every candidate instead of indexing by a secret.
//
// A mask is a word of all ones (true) or all zeros (false). Every function
// here runs the same instructions and touches the same addresses whatever
// the values, so a secret may flow through them without reaching a branch or
// a memory index. The helpers are written with arithmetic on purpose:
// comparisons that yield bool would invite the compiler to branch.
#ifndef CORVANE_ENGINE_CT_H
#define CORVANE_ENGINE_CT_H

#include <cstddef>

#include "engine/bignum/word.h"

namespace corvane::engine::ct {

// All ones when bit (0 or 1) is 1.
inline Word maskFromBit(Word bit) { return static_cast<Word>(0) - bit; }

// All ones when x == 0.
inline Word isZero(Word x) { return maskFromBit((~x & (x - 1)) >> (kWordBits - 1)); }

inline Word isNonZero(Word x) { return ~isZero(x); }

inline Word equal(Word a, Word b) { return isZero(a ^ b); }

// All ones when a < b (unsigned).
inline Word less(Word a, Word b) {
    Word borrow;
    subBorrow(a, b, 0, borrow);
    return maskFromBit(borrow);
}

// mask ? a : b
inline Word select(Word mask, Word a, Word b) { return (a & mask) | (b & ~mask); }

// dst = mask ? src : dst, over n words.
inline void copyIf(Word mask, Word* dst, const Word* src, std::size_t n) {
    for (std::size_t i = 0; i < n; i++) dst[i] = select(mask, src[i], dst[i]);
}

// out[0..n) = entry `index` of a table of `count` entries that start
// `stride` words apart. Every entry is read, so the index never reaches an
// address.
inline void lookup(Word* out, const Word* table, std::size_t count, std::size_t stride, std::size_t n,
                   Word index) {
    for (std::size_t i = 0; i < n; i++) out[i] = 0;
    for (std::size_t e = 0; e < count; e++) {
        const Word mask = equal(static_cast<Word>(e), index);
        const Word* entry = table + e * stride;
        for (std::size_t i = 0; i < n; i++) out[i] |= entry[i] & mask;
    }
}

// Number of significant words of a (0 for zero), scanning all n words.
inline Word significantWords(const Word* a, std::size_t n) {
    Word count = 0;
    for (std::size_t i = 0; i < n; i++) count = select(isNonZero(a[i]), static_cast<Word>(i + 1), count);
    return count;
}

// Bit length of one word (0 for 0), by a branch-free binary search.
inline Word bitLength(Word x) {
    Word bits = 0;
    for (unsigned step = kWordBits / 2; step > 0; step /= 2) {
        const Word high = x >> step;
        const Word take = isNonZero(high);
        bits += take & step;
        x = select(take, high, x);
    }
    return bits + (x & 1);
}

// Bit length of an n-word number: its top non-zero word, picked by a
// masked pass over all words, then one word's search (rather than a search
// in every word).
inline Word bitLength(const Word* a, std::size_t n) {
    const Word words = significantWords(a, n);
    Word top = 0;
    for (std::size_t i = 0; i < n; i++) top |= a[i] & equal(static_cast<Word>(i + 1), words);
    return select(isZero(words), 0, (words - 1) * kWordBits + bitLength(top));
}

}  // namespace corvane::engine::ct

#endif  // CORVANE_ENGINE_CT_H
