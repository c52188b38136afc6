// Many independent exponentiations at once with AVX-512 IFMA: each 64-bit
// lane of a vector carries one residue's 52-bit digit, so one instruction
// advances eight products, each with its own modulus and its own exponent.
// A single product is a chain of dependent multiply-adds that leaves the
// multipliers mostly idle; eight (or sixteen) unrelated chains keep them
// busy. This is what a batch of private operations under one key runs on:
// the lanes hold the inputs' residues modulo p and modulo q.
#ifndef CORVANE_ENGINE_MONTGOMERY_IFMA_LANES_H
#define CORVANE_ENGINE_MONTGOMERY_IFMA_LANES_H

#include <Corvane/nn.h>

#include <cstddef>

#include "engine/montgomery.h"
#include "engine/montgomery_ifma.h"
#include "engine/word.h"

namespace corvane::engine {

// The most exponentiations one call runs.
inline constexpr std::size_t kIfmaMaxLanes = 16;

// Whether modExpLanesIfma can run for moduli of n words on this CPU (as
// capped by CORVANE_CPU).
bool ifmaLanesRun(std::size_t n) noexcept;

// For each i < lanes (1..kIfmaMaxLanes): x[i] = x[i]^e[i] modulo *mods[i],
// residues in the engine's Montgomery form below their moduli, as
// modExpSecret gives them. Every modulus has the same word count n, with
// ifmaLanesRun(n); every exponent has `digits` digits. The sequence of
// instructions and memory addresses depends on lanes, n, digits and which
// lanes share a MontModulus object (their set-up is done once) only.
void modExpLanesIfma(std::size_t lanes, const MontModulus* const* mods, Word* const* x, const NN_DIGIT* const* e,
                     std::size_t digits) noexcept;

// The word counts of the moduli modExpLanesPublicIfma takes: from the
// least the private lanes take up to a full 1024-bit modulus.
inline constexpr std::size_t kIfmaPublicMinWords = 4, kIfmaPublicMaxWords = 16;

// Whether modExpLanesPublicIfma can run for a modulus of n words on this
// CPU (as capped by CORVANE_CPU).
bool ifmaLanesPublicRun(std::size_t n) noexcept;

// For each i < lanes (1..8): x[i] = x[i]^e modulo mod, plain values (not
// in Montgomery form) of mod.n words, each below 2^(64 mod.n), results
// below the modulus; ifmaLanesPublicRun(mod.n). All lanes share the
// modulus and the exponent, which are public: e (eDigits digits, not zero)
// decides the sequence of instructions, the values in the lanes do not.
// This is how a batch's results under one key are raised to its public
// exponent, eight at a time.
void modExpLanesPublicIfma(std::size_t lanes, const MontModulus& mod, Word* const* x, const NN_DIGIT* e,
                           std::size_t eDigits) noexcept;

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_MONTGOMERY_IFMA_LANES_H
