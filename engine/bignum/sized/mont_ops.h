// The engine's operations on residues modulo a MontModulus, for any word
// count: each call goes to the backend specialised for the modulus's size
// (moduli of 256 to 1024 bits in steps of 64, the sizes of RSA primes and
// moduli) or to the backend that takes the size at run time.
//
// Residues are arrays of mod.n words in Montgomery form unless a name says
// otherwise. Everything here except modExpPublic runs in time that depends
// on the sizes only. Outputs may alias inputs.
#ifndef CORVANE_ENGINE_MONT_OPS_H
#define CORVANE_ENGINE_MONT_OPS_H

#include <Corvane/nn.h>

#include <cstddef>

#include "engine/bignum/montgomery.h"
#include "engine/bignum/word.h"

namespace corvane::engine {

// r = a * b (in Montgomery form: a * b / R mod m).
void montMul(const MontModulus& mod, Word* r, const Word* a, const Word* b);

// r = the Montgomery form of x mod m, for x of any number of words (each
// block of mod.n words is folded in with two products and a modular sum).
void toMont(const MontModulus& mod, Word* r, const Word* x, std::size_t words);

// x = the plain value (below m) of the residue a.
void fromMont(const MontModulus& mod, Word* x, const Word* a);

// x = x^(2^times), by `times` squarings in one run of the backend.
void montSquareTimes(const MontModulus& mod, Word* x, unsigned times);

// r = base^e for a secret exponent of `digits` digits, by the constant-time
// fixed window.
void modExpSecret(const MontModulus& mod, Word* r, const Word* base, const NN_DIGIT* e, std::size_t digits);

// r = base^e for a public exponent (time depends on e, not on base).
void modExpPublic(const MontModulus& mod, Word* r, const Word* base, const NN_DIGIT* e, std::size_t digits);

// xP = xP^eP modulo modP and xQ = xQ^eQ modulo modQ, two moduli of the same
// word count, by the constant-time fixed window with the two chains of
// products interleaved (exponent_pair.h); the same results as modExpSecret
// on each.
void modExpSecretInterleaved(const MontModulus& modP, Word* xP, const NN_DIGIT* eP, const MontModulus& modQ,
                             Word* xQ, const NN_DIGIT* eQ, std::size_t digits);

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_MONT_OPS_H
