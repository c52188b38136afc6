// Both exponentiations of the private operation at once with AVX-512 IFMA
// (VPMADD52LUQ/VPMADD52HUQ, 52-bit digits in 64-bit lanes). The two chains
// of Montgomery products are independent, so one loop advances both and the
// CPU overlaps their latencies; each product alone is a dependent chain
// that would leave the multipliers mostly idle.
//
// Chosen at run time through corvane::cpu_features() (CORVANE_CPU=avx2 or
// portable turns it off); present in 64-bit-word builds on x86-64 with
// GCC-compatible compilers (CORVANE_ENGINE_HAS_IFMA), for moduli of 4 to 8
// words: the primes of keys of 386 to 1024 bits.
#ifndef CORVANE_ENGINE_MONTGOMERY_IFMA_H
#define CORVANE_ENGINE_MONTGOMERY_IFMA_H

#include <Corvane/nn.h>

#include <cstddef>
#include <cstdint>

#include "engine/bignum/montgomery.h"
#include "engine/bignum/word.h"

#if defined(__x86_64__) && !defined(CORVANE_ENGINE_WORD32) && (defined(__GNUC__) || defined(__clang__))
#define CORVANE_ENGINE_HAS_IFMA 1
#else
#define CORVANE_ENGINE_HAS_IFMA 0
#endif

namespace corvane::engine {

// Whether the kernels are built in and the CPU (as capped by CORVANE_CPU)
// has AVX-512F, AVX-512BW (the mask arithmetic) and IFMA with the OS saving
// their state, and BMI2.
bool ifmaAvailable() noexcept;

// Whether modExpPairIfma takes moduli of n words.
constexpr bool ifmaCovers(std::size_t n) { return CORVANE_ENGINE_HAS_IFMA && n >= 4 && n <= 8; }

// A prime's constants in the pair kernels' 52-bit digits (16 digits hold
// the 10 of an 8-word prime): its digits, the factor that carries a
// residue of the engine's Montgomery form into the kernels' form, and the
// factor that carries it back. They depend on the modulus only, so a key
// object computes them once and keeps them (wiped with the key); without
// them the kernels compute them on every call. Secret where the prime is.
struct IfmaPairConstants {
    static constexpr std::size_t kDigits = 16;
    std::uint64_t m[kDigits];
    std::uint64_t intoForm[kDigits];   // 2^(104L - 64n) mod m, L = the digit count
    std::uint64_t outOfForm[kDigits];  // 2^(64n) mod m
};

// Fills c for mod, a modulus of n words with ifmaCovers(n). Time and memory
// accesses depend on n only.
void prepareIfmaPairConstants(IfmaPairConstants& c, const MontModulus& mod) noexcept;

// xP = xP^eP modulo modP and xQ = xQ^eQ modulo modQ, residues in the
// engine's Montgomery form (below the modulus, as modExpSecret takes and
// gives them), exponents of `digits` digits by a constant-time fixed window
// (4 bits wide here), with the same results as modExpSecret. Both moduli
// have the same word count n, ifmaCovers(n), and ifmaAvailable() is true.
// The sequence of instructions and memory addresses depends on n and
// digits only. `constants`, when given, holds both moduli's
// prepareIfmaPairConstants, P's first.
void modExpPairIfma(const MontModulus& modP, Word* xP, const NN_DIGIT* eP, const MontModulus& modQ, Word* xQ,
                    const NN_DIGIT* eQ, std::size_t digits,
                    const IfmaPairConstants* constants = nullptr) noexcept;

// The same by the right-to-left method, 2 bits at a time, with three
// chains of products in one loop (see montgomery_ifma.cpp): faster where
// one product is short. Takes moduli of 4 to 6 words.
constexpr bool ifmaRightToLeftCovers(std::size_t n) { return CORVANE_ENGINE_HAS_IFMA && n >= 4 && n <= 6; }
void modExpPairIfmaRightToLeft(const MontModulus& modP, Word* xP, const NN_DIGIT* eP, const MontModulus& modQ,
                               Word* xQ, const NN_DIGIT* eQ, std::size_t digits,
                               const IfmaPairConstants* constants = nullptr) noexcept;

// The carry normalisation each product of the IFMA kernels (this one and
// the public exponentiation's) ends with, on 8 * vectors digits (vectors
// 1 to 3) stored one per 64-bit word, least
// significant first: afterwards every digit is below 2^52 and the value
// (which must be below 2^(52 * 8 * vectors)) is unchanged. Exposed for the
// tests: carries that ripple through digits of all ones are too rare in
// products of random numbers to be reached through the exponentiation.
// Needs ifmaAvailable().
void normaliseDigitsIfma(std::uint64_t* digits, std::size_t vectors) noexcept;

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_MONTGOMERY_IFMA_H
