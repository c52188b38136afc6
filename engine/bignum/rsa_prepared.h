// A key's engine set-up, done once and used by every operation under it:
// the key's fields as the engine reads them, the Montgomery set-up of both
// primes and of the modulus. The modern layer's key objects keep one for
// their lifetime (and wipe it with the key); the legacy functions prepare
// one per call and wipe it before they return, so that nothing secret
// outlives the call. Both run the same operations on it.
//
// Both structures are plain data (trivially copyable), so that a key object
// can hold one in place and copy it without allocating or failing.
#ifndef CORVANE_ENGINE_RSA_PREPARED_H
#define CORVANE_ENGINE_RSA_PREPARED_H

#include <Corvane/nn.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "engine/bignum/ifma/montgomery_ifma.h"
#include "engine/bignum/montgomery.h"
#include "engine/bignum/word.h"

namespace corvane::engine {

// A public key: n and e and n's set-up. Public values only.
struct PreparedPublicKey {
    Word usable;  // all ones when the engine takes n (odd, above 1); else zero, words and modN unset
    std::uint32_t nDigits, eDigits;  // significant digits of n and e
    std::size_t words;               // words of n
    NN_DIGIT n[MAX_NN_DIGITS];
    NN_DIGIT e[MAX_NN_DIGITS];
    MontModulus modN;
};

// A private key in the form for the Chinese remainder theorem, with its
// public half for the check of every result before release.
struct PreparedPrivateKey {
    Word usable;              // all ones when the engine takes the primes; else all is zero
    std::size_t primeDigits;  // k: the larger significant digit count of p and q
    std::size_t words;        // words of each prime and of every residue modulo one
    Word p[kMaxWords], q[kMaxWords];
    Word qInv[kMaxWords];  // only its k low digits, as the documented step reads it
    NN_DIGIT dP[MAX_NN_DIGITS], dQ[MAX_NN_DIGITS];
    MontModulus modP, modQ;
    // The primes' constants for the IFMA kernels, where they run on this
    // CPU (ifmaPairReady all ones); else unset.
    Word ifmaPairReady;
    IfmaPairConstants ifmaPair[2];
    PreparedPublicKey publicKey;
};

static_assert(std::is_trivially_copyable_v<PreparedPublicKey>);
static_assert(std::is_trivially_copyable_v<PreparedPrivateKey>);

// Sets key up from n and e (arrays of MAX_NN_DIGITS digits). An even n, or
// n of 0 or 1, leaves it unusable, with n and e copied.
void preparePublicKey(PreparedPublicKey& key, const NN_DIGIT* n, const NN_DIGIT* e) noexcept;

// Sets key up from the decoded fields of a private record (arrays of
// MAX_NN_DIGITS digits). Unusable (all zero, but for the public half) when
// a prime is even (zero included) or 1, or longer than half the capacity:
// such keys keep the documented steps. No branch and no memory index
// depends on the secret fields beyond the primes' bit lengths and that
// verdict.
void preparePrivateKey(PreparedPrivateKey& key, const NN_DIGIT* n, const NN_DIGIT* e, const NN_DIGIT* p,
                       const NN_DIGIT* q, const NN_DIGIT* dP, const NN_DIGIT* dQ, const NN_DIGIT* qInv) noexcept;

// m (key.nDigits digits) = c^e mod n for c < n, on a usable key. The time
// depends on e and the sizes, not on c (which may be a secret message).
void rsaPublicPrepared(const PreparedPublicKey& key, NN_DIGIT* m, const NN_DIGIT* c) noexcept;

// All ones when t^e mod n equals c (over MAX_NN_DIGITS digits), on a usable
// key: the check that a private result undoes what it was computed from.
Word raisesTo(const PreparedPublicKey& key, const NN_DIGIT* t, const NN_DIGIT* c) noexcept;

// The private operation by the Chinese remainder theorem on a usable key
// and an input c below n:
//   mP = (c mod p)^(dP mod 2^(32k)) mod p, mQ likewise modulo q
//   t  = ((mP - mQ) mod p) * (qInv mod 2^(32k)) mod p * q + mQ
// written to t (MAX_NN_DIGITS digits), for either order of the primes.
// `consistent` receives all ones when the result agrees with the key as far
// as the key alone can tell: n = p * q, t mod p = mP and t mod q = mQ (a
// wrong coefficient, a prime that does not belong to n, a fault in the
// recombination); all zeros otherwise. It is derived from the key: only a
// final verdict may be declassified. Constant time: no branch and no
// memory index depends on the key's secret fields or on c.
void rsaPrivateCrtPrepared(const PreparedPrivateKey& key, NN_DIGIT* t, Word& consistent,
                           const NN_DIGIT* c) noexcept;

// All ones when the first `digits` digits of a and b are equal, without a
// branch on their values.
Word digitsEqual(const NN_DIGIT* a, const NN_DIGIT* b, std::size_t digits) noexcept;
// The same for the first n words.
Word wordsEqual(const Word* a, const Word* b, std::size_t n) noexcept;

// The steps of rsaPrivateCrtPrepared around its two exponentiations, for
// the batch, which runs many inputs' exponentiations at once.
struct CrtHalves {
    Word mP[kMaxWords], mQ[kMaxWords];  // in Montgomery form modulo p and q
};
// c (below n) as 2 key.words words, zero above n's words, for a key whose n
// has at most 2 key.words words (as p q has).
void crtInputWords(const PreparedPrivateKey& key, Word* words, const NN_DIGIT* c) noexcept;
// halves = c reduced modulo each prime, in Montgomery form: the bases.
void crtBases(const PreparedPrivateKey& key, CrtHalves& halves, const NN_DIGIT* c) noexcept;
// t (MAX_NN_DIGITS digits) and the same as 2 key.words words (product)
// from the exponentiated halves. The test seams' faults alter halves.mP in
// place (an exponentiation's result) or the product (the recombination).
void crtCombine(const PreparedPrivateKey& key, NN_DIGIT* t, Word* product, CrtHalves& halves) noexcept;
// All ones when residues (t modulo p and modulo q, in Montgomery form)
// agree with the halves.
Word crtAgrees(const PreparedPrivateKey& key, const CrtHalves& residues, const CrtHalves& halves) noexcept;
// All ones when p q = n. With crtAgrees, the result's consistency with the
// key; a batch asks it once for all its results.
Word crtPrimesMakeN(const PreparedPrivateKey& key) noexcept;
// t and consistent from the exponentiated halves: crtCombine, then
// crtAgrees on t reduced modulo each prime and crtPrimesMakeN.
void crtRecombine(const PreparedPrivateKey& key, NN_DIGIT* t, Word& consistent, CrtHalves& halves) noexcept;

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_RSA_PREPARED_H
