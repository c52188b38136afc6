#include "engine/crt_exponent.h"

#include "engine/mont_ops.h"
#include "engine/montgomery_ifma.h"

namespace corvane::engine {

// Measured on AMD Zen 5 (cycles per pair of products, IFMA against the
// interleaved ADX chains): 4 words 122 / 121, 5 words 170 / 160, 6 words
// 180 / 207, 7 words 214 / 262, 8 words 225 / 320. So the IFMA kernels run
// from 6-word primes (keys of about 642 bits and more); below that each product
// is so short that the interleaved chains finish first or as soon.
constexpr std::size_t kIfmaFromWords = 6;

PairPath fastestPairPath(std::size_t n) noexcept {
    if (n >= kIfmaFromWords && pairPathRuns(PairPath::ifma, n)) return PairPath::ifma;
    return PairPath::interleaved;
}

bool pairPathRuns(PairPath path, std::size_t n) noexcept {
    if (path == PairPath::ifma) return ifmaCovers(n) && ifmaAvailable();
    return true;
}

void modExpSecretPair(PairPath path, const MontModulus& modP, Word* xP, const NN_DIGIT* eP,
                      const MontModulus& modQ, Word* xQ, const NN_DIGIT* eQ, std::size_t digits) {
    switch (path) {
        case PairPath::ifma:
            return modExpPairIfma(modP, xP, eP, modQ, xQ, eQ, digits);
        case PairPath::interleaved:
            return modExpSecretInterleaved(modP, xP, eP, modQ, xQ, eQ, digits);
        case PairPath::oneAfterTheOther:
            break;
    }
    modExpSecret(modP, xP, xP, eP, digits);
    modExpSecret(modQ, xQ, xQ, eQ, digits);
}

}  // namespace corvane::engine
