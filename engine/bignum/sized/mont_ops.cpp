#include "engine/bignum/sized/mont_ops.h"

#include "engine/bignum/sized/mont_ops_sized.h"

namespace corvane::engine {

namespace {

// The operations for mod's size: specialised for the sizes of RSA's primes
// and moduli (256 to 1024 bits in steps of 64), the run-time count for the
// others.
const MontOpsTable& opsFor(const MontModulus& mod) noexcept {
    switch (mod.n * kWordBits) {
        case 256:
            return montOpsFor<256>();
        case 320:
            return montOpsFor<320>();
        case 384:
            return montOpsFor<384>();
        case 448:
            return montOpsFor<448>();
        case 512:
            return montOpsFor<512>();
        case 576:
            return montOpsFor<576>();
        case 640:
            return montOpsFor<640>();
        case 704:
            return montOpsFor<704>();
        case 768:
            return montOpsFor<768>();
        case 832:
            return montOpsFor<832>();
        case 896:
            return montOpsFor<896>();
        case 960:
            return montOpsFor<960>();
        case 1024:
            return montOpsFor<1024>();
        default:
            return montOpsFor<0>();
    }
}

}  // namespace

void montMul(const MontModulus& mod, Word* r, const Word* a, const Word* b) {
    opsFor(mod).montMul(mod, r, a, b);
}

void toMont(const MontModulus& mod, Word* r, const Word* x, std::size_t words) {
    opsFor(mod).toMont(mod, r, x, words);
}

void fromMont(const MontModulus& mod, Word* x, const Word* a) {
    Word unit[kMaxWords] = {1};
    montMul(mod, x, a, unit);
}

void montSquareTimes(const MontModulus& mod, Word* x, unsigned times) {
    opsFor(mod).montSquareTimes(mod, x, times);
}

void modExpSecret(const MontModulus& mod, Word* r, const Word* base, const NN_DIGIT* e, std::size_t digits) {
    opsFor(mod).modExpSecret(mod, r, base, e, digits);
}

void modExpPublic(const MontModulus& mod, Word* r, const Word* base, const NN_DIGIT* e, std::size_t digits) {
    opsFor(mod).modExpPublic(mod, r, base, e, digits);
}

void modExpSecretInterleaved(const MontModulus& modP, Word* xP, const NN_DIGIT* eP, const MontModulus& modQ,
                             Word* xQ, const NN_DIGIT* eQ, std::size_t digits) {
    // The pair's moduli have the same word count, so modP's size picks the
    // backend of both.
    opsFor(modP).modExpSecretInterleaved(modP, xP, eP, modQ, xQ, eQ, digits);
}

}  // namespace corvane::engine
