#include "engine/bignum/rsa_prepared.h"

#include "engine/bignum/crt_exponent.h"
#include "engine/bignum/ct.h"
#include "engine/bignum/ifma/montgomery_ifma_public.h"
#include "engine/bignum/limbs.h"
#include "engine/bignum/nn_engine.h"
#include "engine/bignum/sized/mont_ops.h"
#include "engine/ct/declassify.h"
#include "platform/secure_zero.h"

#ifdef CORVANE_TEST_SEAMS
#include "engine/bignum/crt_glitch_seams.h"
#endif

namespace corvane::engine {

namespace {

// What decides the engine's course through a private key, computed without
// branches from the secret fields and then declassified (see declassify.h).
struct KeyShape {
    Word usable = 0;       // all ones when the engine takes the key
    Word primeDigits = 0;  // the larger significant digit count of p and q
    Word pBits = 0, qBits = 0;
};

Word significantDigits(const NN_DIGIT* a) {
    Word count = 0;
    for (std::size_t i = 0; i < MAX_NN_DIGITS; i++)
        count = ct::select(ct::isNonZero(a[i]), static_cast<Word>(i + 1), count);
    return count;
}

// All ones when a is odd and above 1.
Word oddAboveOne(const NN_DIGIT* a) {
    Word aboveOne = a[0] ^ 1u;
    for (std::size_t i = 1; i < MAX_NN_DIGITS; i++) aboveOne |= a[i];
    return ct::maskFromBit(a[0] & 1u) & ct::isNonZero(aboveOne);
}

KeyShape shapeOf(const NN_DIGIT* p, const NN_DIGIT* q) {
    KeyShape shape;
    const Word pDigits = significantDigits(p), qDigits = significantDigits(q);
    shape.primeDigits = ct::select(ct::less(pDigits, qDigits), qDigits, pDigits);
    // The product of the CRT step must fit the digit arrays.
    const Word fits = ~ct::less(MAX_NN_DIGITS / 2, shape.primeDigits);
    shape.usable = oddAboveOne(p) & oddAboveOne(q) & fits;

    Word words[kMaxWords];
    wordsFromDigits(words, kMaxWords, p, MAX_NN_DIGITS);
    shape.pBits = ct::bitLength(words, kMaxWords);
    wordsFromDigits(words, kMaxWords, q, MAX_NN_DIGITS);
    shape.qBits = ct::bitLength(words, kMaxWords);
    secure_zero_object(words);

    declassify(&shape, sizeof shape);
    return shape;
}

// The last public modulus this thread set up, kept for the next key
// prepared, which is most often the same one (the legacy functions prepare
// their key on every call). Only public values: the modulus and what
// follows from it.
struct PublicModulusCache {
    std::size_t words = 0;
    Word modulus[kMaxWords] = {};
    MontModulus mod;
};

const MontModulus& publicModulus(const Word* modulus, std::size_t words) {
    thread_local PublicModulusCache cache;
    bool same = cache.words == words;
    for (std::size_t i = 0; same && i < words; i++) same = cache.modulus[i] == modulus[i];
    if (!same) {
        setupPublicModulus(cache.mod, modulus, words);
        for (std::size_t i = 0; i < words; i++) cache.modulus[i] = modulus[i];
        cache.words = words;
    }
    return cache.mod;
}

}  // namespace

Word digitsEqual(const NN_DIGIT* a, const NN_DIGIT* b, std::size_t digits) noexcept {
    Word difference = 0;
    for (std::size_t i = 0; i < digits; i++) difference |= a[i] ^ b[i];
    return ct::isZero(difference);
}

Word wordsEqual(const Word* a, const Word* b, std::size_t n) noexcept {
    Word difference = 0;
    for (std::size_t i = 0; i < n; i++) difference |= a[i] ^ b[i];
    return ct::isZero(difference);
}

void preparePublicKey(PreparedPublicKey& key, const NN_DIGIT* n, const NN_DIGIT* e) noexcept {
    secure_zero_object(key);
    key.nDigits = QV_NN_Digits(n, MAX_NN_DIGITS);
    key.eDigits = QV_NN_Digits(e, MAX_NN_DIGITS);
    for (std::size_t i = 0; i < MAX_NN_DIGITS; i++) {
        key.n[i] = n[i];
        key.e[i] = e[i];
    }
    if (!modExpTakes(n, key.nDigits)) return;
    key.usable = ~static_cast<Word>(0);
    key.words = wordsForDigits(key.nDigits);
    Word modulus[kMaxWords];
    wordsFromDigits(modulus, key.words, n, key.nDigits);
    key.modN = publicModulus(modulus, key.words);
}

void preparePrivateKey(PreparedPrivateKey& key, const NN_DIGIT* n, const NN_DIGIT* e, const NN_DIGIT* p,
                       const NN_DIGIT* q, const NN_DIGIT* dP, const NN_DIGIT* dQ, const NN_DIGIT* qInv) noexcept {
    secure_zero_object(key);
    preparePublicKey(key.publicKey, n, e);
    const KeyShape shape = shapeOf(p, q);
    if (shape.usable == 0) return;

    const std::size_t k = shape.primeDigits;
    const std::size_t words = wordsForDigits(k);
    key.usable = shape.usable;
    key.primeDigits = k;
    key.words = words;
    wordsFromDigits(key.p, words, p, k);
    wordsFromDigits(key.q, words, q, k);
    wordsFromDigits(key.qInv, words, qInv, k);  // only k digits count, as in the documented step
    for (std::size_t i = 0; i < k; i++) {
        key.dP[i] = dP[i];
        key.dQ[i] = dQ[i];
    }
    setupSecretModulus(key.modP, key.p, words, shape.pBits);
    setupSecretModulus(key.modQ, key.q, words, shape.qBits);
    if (ifmaCovers(words) && ifmaAvailable()) {
        prepareIfmaPairConstants(key.ifmaPair[0], key.modP);
        prepareIfmaPairConstants(key.ifmaPair[1], key.modQ);
        key.ifmaPairReady = ~static_cast<Word>(0);
    }
}

namespace {

// x = c^e mod n (key.words words) for c below R, on the engine's scalar
// products (ADX or portable). Where c is known to be below n and e is odd,
// the last product of the exponentiation takes c as it is rather than in
// Montgomery form: c^(e-1) R times c over R is c^e,
// out of the form already, which saves the product of the conversion (the
// products want operands below n, hence the condition).
void raiseEngine(const PreparedPublicKey& key, Word* x, const Word* plain, bool belowN) {
    toMont(key.modN, x, plain, key.words);
    if (belowN && (key.e[0] & 1u) != 0) {
        NN_DIGIT evenPart[MAX_NN_DIGITS];
        for (std::size_t i = 0; i < key.eDigits; i++) evenPart[i] = key.e[i];
        evenPart[0] ^= 1u;  // e - 1
        modExpPublic(key.modN, x, x, evenPart, key.eDigits);
        montMul(key.modN, x, x, plain);
    } else {
        modExpPublic(key.modN, x, x, key.e, key.eDigits);
        fromMont(key.modN, x, x);
    }
}

// m = c^e mod n (key.nDigits digits) for c below R: in IFMA digits where
// the CPU has them and they pay for n's size, else on the scalar products.
void raise(const PreparedPublicKey& key, NN_DIGIT* m, const NN_DIGIT* c, bool belowN) {
    const std::size_t words = key.words;
    Word plain[kMaxWords], x[kMaxWords];
    wordsFromDigits(plain, words, c, key.nDigits);
    if (ifmaPublicCovers(words) && ifmaAvailable()) {
        // Every product in 52-bit digits; takes any c below R, and ends on
        // the plain c itself where e is odd, as below.
        raisePlainIfma(key.modN, x, plain, key.e, key.eDigits);
    } else {
        raiseEngine(key, x, plain, belowN);
    }
    digitsFromWords(m, key.nDigits, x, words);
    secure_zero_object(plain);
    secure_zero_object(x);
}

}  // namespace

void rsaPublicPrepared(const PreparedPublicKey& key, NN_DIGIT* m, const NN_DIGIT* c) noexcept {
    raise(key, m, c, true);
}

Word raisesTo(const PreparedPublicKey& key, const NN_DIGIT* t, const NN_DIGIT* c) noexcept {
    NN_DIGIT x[MAX_NN_DIGITS] = {};
    // A result of a key whose fields do not belong together may reach n.
    raise(key, x, t, false);
    const Word matches = digitsEqual(x, c, MAX_NN_DIGITS);
    secure_zero_object(x);
    return matches;
}

void crtInputWords(const PreparedPrivateKey& key, Word* words, const NN_DIGIT* c) noexcept {
    for (std::size_t i = 0; i < 2 * key.words; i++) words[i] = 0;
    wordsFromDigits(words, key.publicKey.words, c, key.publicKey.nDigits);
}

void crtBases(const PreparedPrivateKey& key, CrtHalves& halves, const NN_DIGIT* c) noexcept {
    const std::size_t cWords = key.publicKey.words;
    Word cw[kMaxWords];
    wordsFromDigits(cw, cWords, c, key.publicKey.nDigits);
    toMont(key.modP, halves.mP, cw, cWords);
    toMont(key.modQ, halves.mQ, cw, cWords);
    secure_zero_object(cw);
}

void crtCombine(const PreparedPrivateKey& key, NN_DIGIT* t, Word* product, CrtHalves& halves) noexcept {
    const std::size_t n = key.words;
    const MontModulus &modP = key.modP, &modQ = key.modQ;
#ifdef CORVANE_TEST_SEAMS
    const test_seams::CrtGlitch glitch = test_seams::rsa_crt_glitch_of_next_result();
    if (glitch == test_seams::CrtGlitch::exponentiation) halves.mP[0] ^= 1;
#endif
    Word mQPlain[kMaxWords], h[kMaxWords], scratch[kMaxWords];
    fromMont(modQ, mQPlain, halves.mQ);

    // h = (mP - mQ) * qInv mod p. mQ is below q, which may exceed p, so it
    // is reduced modulo p on its way into Montgomery form.
    toMont(modP, h, mQPlain, n);
    modSub(h, halves.mP, h, modP.m, scratch, n);
    montMul(modP, h, h, key.qInv);  // the factor R of mP's form cancels

    // t = h * q + mQ, below p * q, so it fits 2n words.
    Word addend[2 * kMaxWords] = {};
    mulWords(product, h, key.q, n);
    for (std::size_t i = 0; i < n; i++) addend[i] = mQPlain[i];
    addWords(product, product, addend, 2 * n);
#ifdef CORVANE_TEST_SEAMS
    if (glitch == test_seams::CrtGlitch::recombination) product[n] ^= 1;
#endif
    digitsFromWords(t, MAX_NN_DIGITS, product, 2 * n);

    secure_zero_object(mQPlain);
    secure_zero_object(h);
    secure_zero_object(scratch);
    secure_zero_object(addend);
}

Word crtPrimesMakeN(const PreparedPrivateKey& key) noexcept {
    const std::size_t n = key.words;
    Word pq[2 * kMaxWords];
    mulWords(pq, key.p, key.q, n);
    NN_DIGIT pqDigits[MAX_NN_DIGITS];
    digitsFromWords(pqDigits, MAX_NN_DIGITS, pq, 2 * n);
    const Word makeN = digitsEqual(pqDigits, key.publicKey.n, MAX_NN_DIGITS);
    secure_zero_object(pq);
    secure_zero_object(pqDigits);
    return makeN;
}

Word crtAgrees(const PreparedPrivateKey& key, const CrtHalves& residues, const CrtHalves& halves) noexcept {
    return wordsEqual(residues.mP, halves.mP, key.words) & wordsEqual(residues.mQ, halves.mQ, key.words);
}

void crtRecombine(const PreparedPrivateKey& key, NN_DIGIT* t, Word& consistent, CrtHalves& halves) noexcept {
    Word product[2 * kMaxWords];
    crtCombine(key, t, product, halves);
    // The check against the key: t agrees with both halves (in Montgomery
    // form, as the exponentiations left them), and the primes make n.
    CrtHalves residues;
    toMont(key.modP, residues.mP, product, 2 * key.words);
    toMont(key.modQ, residues.mQ, product, 2 * key.words);
    consistent = crtAgrees(key, residues, halves) & crtPrimesMakeN(key);
    secure_zero_object(product);
    secure_zero_object(residues);
}

void rsaPrivateCrtPrepared(const PreparedPrivateKey& key, NN_DIGIT* t, Word& consistent,
                           const NN_DIGIT* c) noexcept {
    CrtHalves halves;
    crtBases(key, halves, c);
    modExpSecretPair(fastestPairPath(key.words), key.modP, halves.mP, key.dP, key.modQ, halves.mQ, key.dQ,
                     key.primeDigits, key.ifmaPairReady != 0 ? key.ifmaPair : nullptr);
    crtRecombine(key, t, consistent, halves);
    secure_zero_object(halves);
}

}  // namespace corvane::engine

#ifdef CORVANE_TEST_SEAMS
namespace corvane::test_seams {

namespace {
thread_local CrtGlitch glitch = CrtGlitch::none;
thread_local int glitchedResult = -1;  // -1: every result
thread_local int resultsSinceSet = 0;
}

CrtGlitch rsa_crt_glitch() { return glitch; }
void set_rsa_crt_glitch(CrtGlitch g, int onlyResult) {
    glitch = g;
    glitchedResult = onlyResult;
    resultsSinceSet = 0;
}
CrtGlitch rsa_crt_glitch_of_next_result() {
    const int result = resultsSinceSet++;
    return glitchedResult < 0 || result == glitchedResult ? glitch : CrtGlitch::none;
}

}  // namespace corvane::test_seams
#endif
