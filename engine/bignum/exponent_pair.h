// Two fixed-window exponentiations advanced in one loop, one product of each
// in turn: the two chains of dependent products share no data, so the CPU
// can run one chain's product while the other's waits on its latencies.
// Same steps, same results and the same constant-time properties as
// modExpFixedWindow (exponent.h) run twice.
#ifndef CORVANE_ENGINE_EXPONENT_PAIR_H
#define CORVANE_ENGINE_EXPONENT_PAIR_H

#include <Corvane/nn.h>

#include <cstddef>

#include "engine/bignum/exponent.h"
#include "engine/bignum/select/ct_select_pair.h"
#include "engine/bignum/word.h"
#include "platform/secure_zero.h"

namespace corvane::engine {

// rP = baseP^eP with backend bp, rQ = baseQ^eQ with bq (one backend type,
// so both moduli have the same word count), exponents of `digits` digits.
// Results may alias bases.
template <class Backend>
void modExpFixedWindowPair(const Backend& bp, typename Backend::Element& rP,
                           const typename Backend::Element& baseP, const NN_DIGIT* eP, const Backend& bq,
                           typename Backend::Element& rQ, const typename Backend::Element& baseQ,
                           const NN_DIGIT* eQ, std::size_t digits) {
    using Element = typename Backend::Element;
    const std::size_t bits = kDigitBits * digits;
    if (bits == 0) {
        bp.one(rP);
        bq.one(rQ);
        return;
    }
    const unsigned width = fixedWindowWidth(bits);
    const std::size_t entries = std::size_t{1} << width;

    // Row i holds baseP^i and baseQ^i side by side, so that one pass over
    // the rows can read both tables (ct_select_pair.h).
    Element table[32][2];
    bp.one(table[0][0]);
    bq.one(table[0][1]);
    table[1][0] = baseP;
    table[1][1] = baseQ;
    for (std::size_t i = 2; i < entries; i++) {
        if (i % 2 == 0) {
            bp.sqr(table[i][0], table[i / 2][0]);
            bq.sqr(table[i][1], table[i / 2][1]);
        } else {
            bp.mul(table[i][0], table[i - 1][0], table[1][0]);
            bq.mul(table[i][1], table[i - 1][1], table[1][1]);
        }
    }
    constexpr std::size_t kEntryWords = sizeof(Element) / sizeof(Word);
    static_assert(sizeof(Element) == kEntryWords * sizeof(Word) && sizeof(table[0]) == 2 * sizeof(Element));
    const std::size_t n = bp.size();
    const PairSelectPath path = pairSelectPath(n, kEntryWords);
    Element accP, accQ, factorP, factorQ;
    const auto select = [&](Element& outP, Element& outQ, Word indexP, Word indexQ) {
        selectPair(path, outP.data(), outQ.data(), table[0][0].data(), entries, 2 * kEntryWords, kEntryWords, n,
                   indexP, indexQ);
    };

    const std::size_t windows = (bits + width - 1) / width;
    const unsigned topWidth = static_cast<unsigned>(bits - (windows - 1) * width);
    select(accP, accQ, exponentBits(eP, digits, (windows - 1) * width, topWidth),
           exponentBits(eQ, digits, (windows - 1) * width, topWidth));
    for (std::size_t w = windows - 1; w-- > 0;) {
        for (unsigned s = 0; s < width; s++) {
            bp.sqr(accP, accP);
            bq.sqr(accQ, accQ);
        }
        select(factorP, factorQ, exponentBits(eP, digits, w * width, width),
               exponentBits(eQ, digits, w * width, width));
        bp.mul(accP, accP, factorP);
        bq.mul(accQ, accQ, factorQ);
    }
    rP = accP;
    rQ = accQ;

    secure_zero(table, sizeof(table[0]) * entries);
    secure_zero_object(accP);
    secure_zero_object(accQ);
    secure_zero_object(factorP);
    secure_zero_object(factorQ);
}

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_EXPONENT_PAIR_H
