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

#include "engine/bignum/ifma/montgomery_ifma.h"
#include "engine/bignum/montgomery.h"
#include "engine/bignum/word.h"

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
// lanes share a MontModulus object (their set-up is done once) and which
// have cached digits only. cached (null, or per lane null or the lane
// modulus's IfmaPairConstants, made once with its key) spares the set-up
// of the modulus's digits and factors.
void modExpLanesIfma(std::size_t lanes, const MontModulus* const* mods, Word* const* x, const NN_DIGIT* const* e,
                     std::size_t digits, const IfmaPairConstants* const* cached = nullptr) noexcept;

// For each i < lanes (1..kIfmaMaxLanes): x[i] = x[i]^e modulo *mods[i], as
// modExpLanesIfma takes and gives them, for one exponent e (eDigits
// digits, not zero) that every lane shares and that is public: its bits
// decide the sequence of instructions, the moduli and the values in the
// lanes (secret) do not. This is how the exponentiated halves of a batch
// are checked against its inputs modulo each prime.
void modExpLanesPublicExponentIfma(std::size_t lanes, const MontModulus* const* mods, Word* const* x,
                                   const NN_DIGIT* e, std::size_t eDigits,
                                   const IfmaPairConstants* const* cached = nullptr) noexcept;

// For each i < lanes (1..kIfmaMaxLanes): out[i] = in[i] 2^(64n) modulo
// *mods[i], below it: the Montgomery form of a number of 2n words, as
// toMont(*mods[i], out[i], in[i], 2n) gives it. Moduli as modExpLanesIfma
// takes them; the sequence of instructions and memory addresses depends on
// lanes and n only. This is how a batch reduces its inputs, and its
// results for their check, modulo each prime.
void reduceLanesIfma(std::size_t lanes, const MontModulus* const* mods, const Word* const* in, Word* const* out,
                     const IfmaPairConstants* const* cached = nullptr) noexcept;

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_MONTGOMERY_IFMA_LANES_H
