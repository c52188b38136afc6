// The engine's versions of the package's division, modular product and
// modular exponentiation, for the inputs the package's functions hand them
// (nn.cpp keeps the documented algorithms for everything else). Each gives
// the same digits as the documented algorithm, written to the same extent.
#ifndef CORVANE_ENGINE_NN_ENGINE_H
#define CORVANE_ENGINE_NN_ENGINE_H

#include <Corvane/nn.h>

#include <cstdint>

namespace corvane::engine {

// a (cDigits) = c div d, b (dDigits) = c mod d, where d has ddDigits >= 1
// significant digits, cDigits <= 2 * MAX_NN_DIGITS and dDigits <=
// MAX_NN_DIGITS. Reads both inputs before writing; a and b must differ.
void divide(NN_DIGIT* a, NN_DIGIT* b, const NN_DIGIT* c, std::uint32_t cDigits, const NN_DIGIT* d,
            std::uint32_t dDigits, std::uint32_t ddDigits);

// a = b * c mod d over `digits` <= MAX_NN_DIGITS digits, d nonzero. Any
// aliasing.
void modMult(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, const NN_DIGIT* d, std::uint32_t digits);

// Whether modExp takes this modulus: odd and above 1 (dDigits <= MAX_NN_DIGITS).
bool modExpTakes(const NN_DIGIT* d, std::uint32_t dDigits);

// a = b^c mod d over dDigits digits, for a modulus that modExpTakes. Time
// and memory accesses depend on the digit counts and the modulus's bit
// length only: the exponent goes through the constant-time fixed window.
// Any aliasing.
void modExp(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, std::uint32_t cDigits, const NN_DIGIT* d,
            std::uint32_t dDigits);

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_NN_ENGINE_H
