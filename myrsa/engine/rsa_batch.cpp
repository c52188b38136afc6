#include "engine/rsa_batch.h"

#include "engine/montgomery_ifma_lanes.h"
#include "engine/word.h"
#include "secure_zero.h"

namespace corvane::engine {

static_assert(2 * kRsaBatchMax <= kIfmaMaxLanes, "each input takes two lanes");

void rsaPrivateCrtBatch(const PreparedPrivateKey& key, std::size_t count, NN_DIGIT* const* t, Word* consistent,
                        const NN_DIGIT* const* c, Word* raised) noexcept {
    if (count > kRsaBatchMax) count = kRsaBatchMax;
    // One input gains nothing from the lanes: the paired single path is
    // quicker for one chain per prime.
    if (count < 2 || !ifmaLanesRun(key.words)) {
        for (std::size_t i = 0; i < count; i++) rsaPrivateCrtPrepared(key, t[i], consistent[i], c[i]);
        if (raised != nullptr)
            for (std::size_t i = 0; i < count; i++) raised[i] = raisesTo(key.publicKey, t[i], c[i]);
        return;
    }
    // bases: c modulo each prime; halves: their powers, then t modulo each
    // prime raised to e.
    CrtHalves bases[kRsaBatchMax], halves[kRsaBatchMax];
    const MontModulus* mods[kIfmaMaxLanes];
    Word* x[kIfmaMaxLanes];
    const NN_DIGIT* e[kIfmaMaxLanes];
    for (std::size_t i = 0; i < count; i++) {
        crtBases(key, bases[i], c[i]);
        halves[i] = bases[i];
        mods[2 * i] = &key.modP;
        x[2 * i] = halves[i].mP;
        e[2 * i] = key.dP;
        mods[2 * i + 1] = &key.modQ;
        x[2 * i + 1] = halves[i].mQ;
        e[2 * i + 1] = key.dQ;
    }
    modExpLanesIfma(2 * count, mods, x, e, key.primeDigits);
    for (std::size_t i = 0; i < count; i++) crtRecombine(key, t[i], consistent[i], halves[i], &halves[i]);
    if (raised != nullptr) {
        // t^e = c modulo n where it holds modulo p and modulo q, n being
        // p q (which consistent checks) for distinct primes: the check of
        // raisesTo, in the lanes at half the length and all sixteen full.
        const PreparedPublicKey& pub = key.publicKey;
        modExpLanesPublicExponentIfma(2 * count, mods, x, pub.e, pub.eDigits);
        const Word distinct = ~wordsEqual(key.p, key.q, key.words);
        for (std::size_t i = 0; i < count; i++)
            raised[i] = wordsEqual(halves[i].mP, bases[i].mP, key.words) &
                        wordsEqual(halves[i].mQ, bases[i].mQ, key.words) & distinct;
    }
    secure_zero_object(bases);
    secure_zero_object(halves);
}

}  // namespace corvane::engine
