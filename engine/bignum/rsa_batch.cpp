#include "engine/bignum/rsa_batch.h"

#include "engine/bignum/ifma/montgomery_ifma_lanes.h"
#include "engine/bignum/word.h"
#include "platform/secure_zero.h"

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
    // Per item: its input (then its result) as 2n words; bases: the input
    // modulo each prime, in Montgomery form; halves: their powers;
    // residues: the result modulo each prime, then raised to e.
    Word words[kRsaBatchMax][2 * kMaxWords];
    CrtHalves bases[kRsaBatchMax], halves[kRsaBatchMax], residues[kRsaBatchMax];
    const MontModulus* mods[kIfmaMaxLanes];
    const IfmaPairConstants* cached[kIfmaMaxLanes];
    const Word* in[kIfmaMaxLanes];
    Word* x[kIfmaMaxLanes];
    const NN_DIGIT* e[kIfmaMaxLanes];
    const auto lanesOf = [&](CrtHalves* numbers) {
        for (std::size_t i = 0; i < count; i++) {
            x[2 * i] = numbers[i].mP;
            x[2 * i + 1] = numbers[i].mQ;
        }
    };
    // The inputs are reduced in the lanes where they fit 2n words, as they
    // do under any key whose n is p q; one by one otherwise.
    const bool inputsFit = key.publicKey.words <= 2 * key.words;
    for (std::size_t i = 0; i < count; i++) {
        if (inputsFit)
            crtInputWords(key, words[i], c[i]);
        else
            crtBases(key, bases[i], c[i]);
        in[2 * i] = in[2 * i + 1] = words[i];
        mods[2 * i] = &key.modP;
        e[2 * i] = key.dP;
        mods[2 * i + 1] = &key.modQ;
        e[2 * i + 1] = key.dQ;
        // The primes' digits and factors, made once with the key.
        cached[2 * i] = key.ifmaPairReady != 0 ? &key.ifmaPair[0] : nullptr;
        cached[2 * i + 1] = key.ifmaPairReady != 0 ? &key.ifmaPair[1] : nullptr;
    }
    lanesOf(bases);
    if (inputsFit) reduceLanesIfma(2 * count, mods, in, x, cached);
    for (std::size_t i = 0; i < count; i++) halves[i] = bases[i];
    lanesOf(halves);
    modExpLanesIfma(2 * count, mods, x, e, key.primeDigits, cached);
    for (std::size_t i = 0; i < count; i++) crtCombine(key, t[i], words[i], halves[i]);
    lanesOf(residues);
    reduceLanesIfma(2 * count, mods, in, x, cached);
    const Word primesMakeN = crtPrimesMakeN(key);
    for (std::size_t i = 0; i < count; i++) consistent[i] = crtAgrees(key, residues[i], halves[i]) & primesMakeN;
    if (raised != nullptr) {
        // t^e = c modulo n where it holds modulo p and modulo q, n being
        // p q (which consistent checks) for distinct primes: the check of
        // raisesTo, in the lanes at half the length and all sixteen full.
        const PreparedPublicKey& pub = key.publicKey;
        modExpLanesPublicExponentIfma(2 * count, mods, x, pub.e, pub.eDigits, cached);
        const Word distinct = ~wordsEqual(key.p, key.q, key.words);
        for (std::size_t i = 0; i < count; i++)
            raised[i] = wordsEqual(residues[i].mP, bases[i].mP, key.words) &
                        wordsEqual(residues[i].mQ, bases[i].mQ, key.words) & distinct;
    }
    secure_zero_object(words);
    secure_zero_object(bases);
    secure_zero_object(halves);
    secure_zero_object(residues);
}

}  // namespace corvane::engine
