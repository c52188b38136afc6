// The exponentiation by a public exponent (RSA's public operation, and the
// check of every private result before release) with AVX-512 IFMA: one
// chain of Montgomery products on 52-bit digits, up to 24 digits in three
// vectors, for moduli of 9 to 16 words (public moduli of 545 to 1024 bits).
// Below 9 words the ADX kernels are faster: one chain of IFMA products is
// bound by its latency (each digit waits for the last), while the 8-word
// ADX product is short (measured on Zen 5 at 18 products: 8 words, 60 ns
// per product here against 57 ns; 16 words, 113 ns against 178 ns). The
// value goes into 52-bit digits once at the start and out once at the end,
// so every product of the exponentiation runs in that form.
//
// Chosen at run time through corvane::cpu_features() (ifmaAvailable(), so
// CORVANE_CPU=avx2 or portable turns it off); the engine's modExpPublic
// stays the reference and the path everywhere else.
#ifndef CORVANE_ENGINE_MONTGOMERY_IFMA_PUBLIC_H
#define CORVANE_ENGINE_MONTGOMERY_IFMA_PUBLIC_H

#include <Corvane/nn.h>

#include <cstddef>
#include <cstdint>

#include "engine/bignum/ifma/montgomery_ifma.h"
#include "engine/bignum/montgomery.h"
#include "engine/bignum/word.h"

namespace corvane::engine {

// Whether raisePlainIfma takes moduli of n words.
constexpr bool ifmaPublicCovers(std::size_t n) { return CORVANE_ENGINE_HAS_IFMA && n >= 9 && n <= 16; }

// r = x^e mod m, plain values of mod.n words (x may be any value below
// 2^(64n), not only below m; r is below m), e of `digits` digits. Branches
// and memory addresses depend on e and the sizes only, never on x: x may be
// a secret (the private result under the check). Needs
// ifmaPublicCovers(mod.n) and ifmaAvailable().
void raisePlainIfma(const MontModulus& mod, Word* r, const Word* x, const NN_DIGIT* e, std::size_t digits) noexcept;

// One Montgomery product of the kernel on its own, for the tests:
// r = a * b / 2^(52L) mod m, reduced below m, for a below m and b below
// 2^(64n) (L = digits52For(mod.n)). Needs ifmaPublicCovers(mod.n) and
// ifmaAvailable().
void montMulPublicIfma(const MontModulus& mod, Word* r, const Word* a, const Word* b) noexcept;

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_MONTGOMERY_IFMA_PUBLIC_H
