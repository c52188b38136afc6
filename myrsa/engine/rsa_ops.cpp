#include "engine/rsa_ops.h"

#include "engine/crt_exponent.h"
#include "engine/ct.h"
#include "engine/declassify.h"
#include "engine/limbs.h"
#include "engine/mont_ops.h"
#include "engine/nn_engine.h"
#include "engine/word.h"
#include "secure_zero.h"

#ifdef CORVANE_TEST_SEAMS
#include "rsa_seams.h"
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

// All ones when the first n words of a and b are equal.
Word wordsEqual(const Word* a, const Word* b, std::size_t n) {
    Word difference = 0;
    for (std::size_t i = 0; i < n; i++) difference |= a[i] ^ b[i];
    return ct::isZero(difference);
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

// The last public modulus this thread set up, kept for the next public
// operation, which is most often under the same key (as OpenSSL keeps its
// Montgomery setup in the key). Only public values: the modulus and what
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

bool rsaPublic(NN_DIGIT* m, const NN_DIGIT* c, const NN_DIGIT* n, std::uint32_t nDigits, const NN_DIGIT* e,
               std::uint32_t eDigits) {
    if (!modExpTakes(n, nDigits)) return false;
    const std::size_t words = wordsForDigits(nDigits);
    Word modulus[kMaxWords], x[kMaxWords];
    wordsFromDigits(modulus, words, n, nDigits);
    wordsFromDigits(x, words, c, nDigits);

    const MontModulus& mod = publicModulus(modulus, words);
    toMont(mod, x, x, words);
    modExpPublic(mod, x, x, e, eDigits);
    fromMont(mod, x, x);
    digitsFromWords(m, nDigits, x, words);
    secure_zero_object(x);
    return true;
}

Word digitsEqual(const NN_DIGIT* a, const NN_DIGIT* b, std::size_t digits) {
    Word difference = 0;
    for (std::size_t i = 0; i < digits; i++) difference |= a[i] ^ b[i];
    return ct::isZero(difference);
}

bool rsaPrivateCrt(NN_DIGIT* t, Word& consistent, const NN_DIGIT* c, const NN_DIGIT* modulus,
                   std::uint32_t nDigits, const NN_DIGIT* p, const NN_DIGIT* q, const NN_DIGIT* dP,
                   const NN_DIGIT* dQ, const NN_DIGIT* qInv) {
    const KeyShape shape = shapeOf(p, q);
    if (shape.usable == 0) return false;

    const std::size_t k = shape.primeDigits;
    const std::size_t n = wordsForDigits(k);
    const std::size_t cWords = wordsForDigits(nDigits);
    Word pw[kMaxWords], qw[kMaxWords], cw[kMaxWords], qInvW[kMaxWords];
    wordsFromDigits(pw, n, p, k);
    wordsFromDigits(qw, n, q, k);
    wordsFromDigits(cw, cWords, c, nDigits);
    wordsFromDigits(qInvW, n, qInv, k);  // only k digits count, as in the documented step

    MontModulus modP, modQ;
    setupSecretModulus(modP, pw, n, shape.pBits);
    setupSecretModulus(modQ, qw, n, shape.qBits);

    // mP, mQ: the two half-size exponentiations, from c reduced modulo each
    // prime. Both stay in Montgomery form for the check at the end; mQ is
    // also needed plain.
    Word mP[kMaxWords], mQ[kMaxWords], mQPlain[kMaxWords], h[kMaxWords], scratch[kMaxWords];
    toMont(modP, mP, cw, cWords);
    toMont(modQ, mQ, cw, cWords);
    modExpSecretPair(fastestPairPath(n), modP, mP, dP, modQ, mQ, dQ, k);
#ifdef CORVANE_TEST_SEAMS
    if (test_seams::rsa_crt_glitch() == test_seams::CrtGlitch::exponentiation) mP[0] ^= 1;
#endif
    fromMont(modQ, mQPlain, mQ);

    // h = (mP - mQ) * qInv mod p. mQ is below q, which may exceed p, so it
    // is reduced modulo p on its way into Montgomery form.
    toMont(modP, h, mQPlain, n);
    modSub(h, mP, h, modP.m, scratch, n);
    montMul(modP, h, h, qInvW);  // the factor R of mP's form cancels

    // t = h * q + mQ, below p * q, so it fits 2n words.
    Word product[2 * kMaxWords], addend[2 * kMaxWords] = {};
    mulWords(product, h, qw, n);
    for (std::size_t i = 0; i < n; i++) addend[i] = mQPlain[i];
    addWords(product, product, addend, 2 * n);
#ifdef CORVANE_TEST_SEAMS
    if (test_seams::rsa_crt_glitch() == test_seams::CrtGlitch::recombination) product[n] ^= 1;
#endif
    digitsFromWords(t, MAX_NN_DIGITS, product, 2 * n);

    // The check against the key: t agrees with both halves (in Montgomery
    // form, as the exponentiations left them), and the primes make n.
    // addend serves as scratch for the residues and for p * q.
    toMont(modP, h, product, 2 * n);
    Word agrees = wordsEqual(h, mP, n);
    toMont(modQ, h, product, 2 * n);
    agrees &= wordsEqual(h, mQ, n);
    mulWords(addend, pw, qw, n);
    NN_DIGIT pq[MAX_NN_DIGITS];
    digitsFromWords(pq, MAX_NN_DIGITS, addend, 2 * n);
    agrees &= digitsEqual(pq, modulus, MAX_NN_DIGITS);
    consistent = agrees;

    secure_zero_object(pw);
    secure_zero_object(qw);
    secure_zero_object(cw);
    secure_zero_object(qInvW);
    secure_zero_object(modP);
    secure_zero_object(modQ);
    secure_zero_object(mP);
    secure_zero_object(mQ);
    secure_zero_object(mQPlain);
    secure_zero_object(h);
    secure_zero_object(scratch);
    secure_zero_object(product);
    secure_zero_object(addend);
    secure_zero_object(pq);
    return true;
}

}  // namespace corvane::engine

#ifdef CORVANE_TEST_SEAMS
namespace corvane::test_seams {

namespace {
thread_local CrtGlitch glitch = CrtGlitch::none;
}

CrtGlitch rsa_crt_glitch() { return glitch; }
void set_rsa_crt_glitch(CrtGlitch g) { glitch = g; }

}  // namespace corvane::test_seams
#endif
