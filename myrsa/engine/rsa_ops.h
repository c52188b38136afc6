// RSA's raw operations through the engine, for the keys it can take; rsa.cpp
// decodes the records, checks the input against the modulus, and keeps the
// documented computation for every other key. Each gives the same digits as
// the documented computation on the same decoded values.
#ifndef CORVANE_ENGINE_RSA_OPS_H
#define CORVANE_ENGINE_RSA_OPS_H

#include <Corvane/nn.h>

#include <cstddef>
#include <cstdint>

#include "engine/word.h"

namespace corvane::engine {

// m (nDigits digits) = c^e mod n, for c < n. Returns false, writing
// nothing, when n is even or 1. The time depends on e and the sizes, not on
// c (which may be a secret message).
bool rsaPublic(NN_DIGIT* m, const NN_DIGIT* c, const NN_DIGIT* n, std::uint32_t nDigits, const NN_DIGIT* e,
               std::uint32_t eDigits);

// The private operation by the Chinese remainder theorem on decoded key
// fields (arrays of MAX_NN_DIGITS digits) and an input c below the
// modulus n, which has nDigits significant digits:
//   k  = the larger significant digit count of p and q
//   mP = (c mod p)^(dP mod 2^(32k)) mod p, mQ likewise modulo q
//   t  = ((mP - mQ) mod p) * (qInv mod 2^(32k)) mod p * q + mQ
// written to t (MAX_NN_DIGITS digits), for either order of the primes.
// `consistent` receives all ones when the result agrees with the key as far
// as the key alone can tell: n = p * q, t mod p = mP and t mod q = mQ (a
// wrong coefficient, a prime that does not belong to n, a fault in the
// recombination); all zeros otherwise. It is derived from the key: only a
// final verdict may be declassified.
// Returns false, writing nothing, when the engine cannot take the key: a
// prime that is even (zero included) or 1, or longer than half the
// capacity. Everything runs in constant time: no branch and no memory index
// depends on the key's secret fields or on c, beyond the primes' bit lengths
// and that verdict.
bool rsaPrivateCrt(NN_DIGIT* t, Word& consistent, const NN_DIGIT* c, const NN_DIGIT* n, std::uint32_t nDigits,
                   const NN_DIGIT* p, const NN_DIGIT* q, const NN_DIGIT* dP, const NN_DIGIT* dQ,
                   const NN_DIGIT* qInv);

// All ones when the first `digits` digits of a and b are equal, without a
// branch on their values.
Word digitsEqual(const NN_DIGIT* a, const NN_DIGIT* b, std::size_t digits);

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_RSA_OPS_H
