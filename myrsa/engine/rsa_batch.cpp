#include "engine/rsa_batch.h"

#include "engine/montgomery_ifma_lanes.h"
#include "engine/word.h"
#include "secure_zero.h"

namespace corvane::engine {

static_assert(2 * kRsaBatchMax <= kIfmaMaxLanes, "each input takes two lanes");

void rsaPrivateCrtBatch(const PreparedPrivateKey& key, std::size_t count, NN_DIGIT* const* t, Word* consistent,
                        const NN_DIGIT* const* c) noexcept {
    if (count > kRsaBatchMax) count = kRsaBatchMax;
    // One input gains nothing from the lanes: the paired single path is
    // quicker for one chain per prime.
    if (count < 2 || !ifmaLanesRun(key.words)) {
        for (std::size_t i = 0; i < count; i++) rsaPrivateCrtPrepared(key, t[i], consistent[i], c[i]);
        return;
    }
    CrtHalves halves[kRsaBatchMax];
    const MontModulus* mods[kIfmaMaxLanes];
    Word* x[kIfmaMaxLanes];
    const NN_DIGIT* e[kIfmaMaxLanes];
    for (std::size_t i = 0; i < count; i++) {
        crtBases(key, halves[i], c[i]);
        mods[2 * i] = &key.modP;
        x[2 * i] = halves[i].mP;
        e[2 * i] = key.dP;
        mods[2 * i + 1] = &key.modQ;
        x[2 * i + 1] = halves[i].mQ;
        e[2 * i + 1] = key.dQ;
    }
    modExpLanesIfma(2 * count, mods, x, e, key.primeDigits);
    for (std::size_t i = 0; i < count; i++) crtRecombine(key, t[i], consistent[i], halves[i]);
    secure_zero_object(halves);
}

void raisesToBatch(const PreparedPublicKey& key, std::size_t count, const NN_DIGIT* const* t,
                   const NN_DIGIT* const* c, Word* matches) noexcept {
    if (count > kRsaBatchMax) count = kRsaBatchMax;
    // One result gains nothing from the lanes: a product of eight lanes
    // takes longer than one scalar product.
    if (count < 2 || !ifmaLanesPublicRun(key.words)) {
        for (std::size_t i = 0; i < count; i++) matches[i] = raisesTo(key, t[i], c[i]);
        return;
    }
    // The values rsaPublicPrepared raises: t over n's significant digits.
    Word x[kRsaBatchMax][kMaxWords];
    Word* lanes[kRsaBatchMax];
    for (std::size_t i = 0; i < count; i++) {
        wordsFromDigits(x[i], key.words, t[i], key.nDigits);
        lanes[i] = x[i];
    }
    modExpLanesPublicIfma(count, key.modN, lanes, key.e, key.eDigits);
    NN_DIGIT raised[MAX_NN_DIGITS] = {};
    for (std::size_t i = 0; i < count; i++) {
        digitsFromWords(raised, key.nDigits, x[i], key.words);
        matches[i] = digitsEqual(raised, c[i], MAX_NN_DIGITS);
    }
    secure_zero_object(x);
    secure_zero_object(raised);
}

}  // namespace corvane::engine
