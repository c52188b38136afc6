// Multi-word arithmetic without branches on the values: addition,
// subtraction, the full product, and the modular addition, subtraction and
// doubling that Montgomery arithmetic needs besides its products.
//
// Counts are public (they come from key and operand sizes); the word values
// may be secret.
#ifndef CORVANE_ENGINE_LIMBS_H
#define CORVANE_ENGINE_LIMBS_H

#include <cstddef>

#include "engine/bignum/ct.h"
#include "engine/bignum/word.h"

namespace corvane::engine {

// A three-word accumulator for column sums: up to 2n products of two words
// plus a carry never exceed it.
struct ColumnSum {
    DWord low = 0;
    Word high = 0;

    void mac(Word a, Word b) {
        const DWord p = static_cast<DWord>(a) * b;
        low += p;
        high += static_cast<Word>(low < p);
    }
    // Adds twice the sum held in `other`.
    void addTwice(const ColumnSum& other) {
        const DWord twice = other.low << 1;
        const Word twiceHigh = (other.high << 1) | static_cast<Word>(other.low >> (2 * kWordBits - 1));
        low += twice;
        high += twiceHigh + static_cast<Word>(low < twice);
    }
    // Returns the lowest word and moves the others down one place.
    Word shift() {
        const Word out = static_cast<Word>(low);
        low = (low >> kWordBits) | (static_cast<DWord>(high) << kWordBits);
        high = 0;
        return out;
    }
};

// r = a + b over n words; returns the carry. r may alias a or b.
inline Word addWords(Word* r, const Word* a, const Word* b, std::size_t n) {
    Word carry = 0;
    for (std::size_t i = 0; i < n; i++) r[i] = addCarry(a[i], b[i], carry, carry);
    return carry;
}

// r = a - b over n words; returns the borrow. r may alias a or b.
inline Word subWords(Word* r, const Word* a, const Word* b, std::size_t n) {
    Word borrow = 0;
    for (std::size_t i = 0; i < n; i++) r[i] = subBorrow(a[i], b[i], borrow, borrow);
    return borrow;
}

// r (2n words) = a * b (n words each), column by column. r must not alias
// a or b.
inline void mulWords(Word* r, const Word* a, const Word* b, std::size_t n) {
    ColumnSum acc;
    for (std::size_t k = 0; k + 1 < 2 * n; k++) {
        const std::size_t lo = k < n ? 0 : k - n + 1, hi = k < n ? k : n - 1;
        for (std::size_t i = lo; i <= hi; i++) acc.mac(a[i], b[k - i]);
        r[k] = acc.shift();
    }
    r[2 * n - 1] = acc.shift();
}

// r = (topCarry:x) mod m for a value below 2m given as n words plus a top
// carry word (0 or 1): subtracts m once when the value is at least m.
// `scratch` holds n words. r may alias x.
inline void reduceOnce(Word* r, const Word* x, Word topCarry, const Word* m, Word* scratch, std::size_t n) {
    const Word borrow = subWords(scratch, x, m, n);
    // Keep the difference unless it went negative without a carry to pay for it.
    const Word keepX = ct::maskFromBit(borrow & (topCarry ^ 1));
    for (std::size_t i = 0; i < n; i++) r[i] = ct::select(keepX, x[i], scratch[i]);
}

// r = a + b mod m for a, b < m. r may alias a or b.
inline void modAdd(Word* r, const Word* a, const Word* b, const Word* m, Word* scratch, std::size_t n) {
    const Word carry = addWords(r, a, b, n);
    reduceOnce(r, r, carry, m, scratch, n);
}

// r = a - b mod m for a, b < m. r may alias a or b.
inline void modSub(Word* r, const Word* a, const Word* b, const Word* m, Word* scratch, std::size_t n) {
    const Word borrow = subWords(r, a, b, n);
    addWords(scratch, r, m, n);
    ct::copyIf(ct::maskFromBit(borrow), r, scratch, n);
}

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_LIMBS_H
