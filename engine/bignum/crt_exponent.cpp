#include "engine/bignum/crt_exponent.h"

#include "engine/bignum/ifma/montgomery_ifma.h"
#include "engine/bignum/sized/mont_ops.h"

namespace corvane::engine {

// Measured on AMD Zen 5 (microseconds per pair of exponentiations with
// full-length exponents, bench/ifma_lanes_bench modexp_pair, interleaved ADX
// chains / IFMA fixed window / IFMA right to left): 4 words 11.3 / 10.7 /
// 9.0, 5 words 19.5 / 18.6 / 15.9, 6 words 30.1 / 24.0 / 21.3; 8 words
// 59.6 / 39.8 / about 45 (three chains of the longer products keep the
// multipliers busy, so the right-to-left method's extra products cost in
// full). So the right-to-left kernel takes primes of 4 to 6 words (keys of
// 386 to 768 bits), the fixed window the longer ones.
PairPath fastestPairPath(std::size_t n) noexcept {
    if (pairPathRuns(PairPath::ifmaRightToLeft, n)) return PairPath::ifmaRightToLeft;
    if (pairPathRuns(PairPath::ifma, n)) return PairPath::ifma;
    return PairPath::interleaved;
}
bool pairPathRuns(PairPath path, std::size_t n) noexcept {
    if (path == PairPath::ifma) return ifmaCovers(n) && ifmaAvailable();
    if (path == PairPath::ifmaRightToLeft) return ifmaRightToLeftCovers(n) && ifmaAvailable();
    return true;
}

void modExpSecretPair(PairPath path, const MontModulus& modP, Word* xP, const NN_DIGIT* eP,
                      const MontModulus& modQ, Word* xQ, const NN_DIGIT* eQ, std::size_t digits,
                      const IfmaPairConstants* ifmaConstants) {
    switch (path) {
        case PairPath::ifma:
            return modExpPairIfma(modP, xP, eP, modQ, xQ, eQ, digits, ifmaConstants);
        case PairPath::ifmaRightToLeft:
            return modExpPairIfmaRightToLeft(modP, xP, eP, modQ, xQ, eQ, digits, ifmaConstants);
        case PairPath::interleaved:
            return modExpSecretInterleaved(modP, xP, eP, modQ, xQ, eQ, digits);
        case PairPath::oneAfterTheOther:
            break;
    }
    modExpSecret(modP, xP, xP, eP, digits);
    modExpSecret(modQ, xQ, xQ, eQ, digits);
}

}  // namespace corvane::engine
