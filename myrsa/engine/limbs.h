// Multi-word arithmetic without branches on the values: addition,
// subtraction, the full product, and the modular addition, subtraction and
// doubling that Montgomery arithmetic needs besides its products.
//
// Counts are public (they come from key and operand sizes); the word values
// may be secret.
#ifndef CORVANE_ENGINE_LIMBS_H
#define CORVANE_ENGINE_LIMBS_H

#include <cstddef>

#include "engine/ct.h"
#include "engine/word.h"

namespace corvane::engine {

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

// r (2n words) = a * b (n words each), schoolbook by rows. r must not alias
// a or b.
inline void mulWords(Word* r, const Word* a, const Word* b, std::size_t n) {
    for (std::size_t i = 0; i < 2 * n; i++) r[i] = 0;
    for (std::size_t i = 0; i < n; i++) {
        Word carry = 0;
        for (std::size_t j = 0; j < n; j++) r[i + j] = mulAdd2(carry, a[i], b[j], r[i + j], carry);
        r[i + n] = carry;
    }
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
