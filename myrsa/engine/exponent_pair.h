// Two fixed-window exponentiations advanced in one loop, one product of each
// in turn: the two chains of dependent products share no data, so the CPU
// can run one chain's product while the other's waits on its latencies.
// Same steps, same results and the same constant-time properties as
// modExpFixedWindow (exponent.h) run twice.
#ifndef CORVANE_ENGINE_EXPONENT_PAIR_H
#define CORVANE_ENGINE_EXPONENT_PAIR_H

#include <Corvane/nn.h>

#include <cstddef>

#include "engine/exponent.h"
#include "engine/word.h"
#include "secure_zero.h"

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

    Element tableP[32], tableQ[32];
    bp.one(tableP[0]);
    bq.one(tableQ[0]);
    tableP[1] = baseP;
    tableQ[1] = baseQ;
    for (std::size_t i = 2; i < entries; i++) {
        if (i % 2 == 0) {
            bp.sqr(tableP[i], tableP[i / 2]);
            bq.sqr(tableQ[i], tableQ[i / 2]);
        } else {
            bp.mul(tableP[i], tableP[i - 1], tableP[1]);
            bq.mul(tableQ[i], tableQ[i - 1], tableQ[1]);
        }
    }

    const std::size_t windows = (bits + width - 1) / width;
    const unsigned topWidth = static_cast<unsigned>(bits - (windows - 1) * width);
    Element accP, accQ, factorP, factorQ;
    bp.select(accP, tableP, entries, exponentBits(eP, digits, (windows - 1) * width, topWidth));
    bq.select(accQ, tableQ, entries, exponentBits(eQ, digits, (windows - 1) * width, topWidth));
    for (std::size_t w = windows - 1; w-- > 0;) {
        for (unsigned s = 0; s < width; s++) {
            bp.sqr(accP, accP);
            bq.sqr(accQ, accQ);
        }
        bp.select(factorP, tableP, entries, exponentBits(eP, digits, w * width, width));
        bq.select(factorQ, tableQ, entries, exponentBits(eQ, digits, w * width, width));
        bp.mul(accP, accP, factorP);
        bq.mul(accQ, accQ, factorQ);
    }
    rP = accP;
    rQ = accQ;

    secure_zero(tableP, sizeof(Element) * entries);
    secure_zero(tableQ, sizeof(Element) * entries);
    secure_zero_object(accP);
    secure_zero_object(accQ);
    secure_zero_object(factorP);
    secure_zero_object(factorQ);
}

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_EXPONENT_PAIR_H
