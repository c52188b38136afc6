// Test-only access to the file-local digit helpers of nn.cpp. Defined only
// in the test archive (CORVANE_TEST_SEAMS), never in the shared library.
#ifndef CORVANE_NN_SEAMS_H
#define CORVANE_NN_SEAMS_H

#include <Corvane/nn.h>

#include <cstdint>

namespace corvane::test_seams {

// high * 2^32 + low = a * b.
void nn_dmult(NN_DIGIT a, NN_DIGIT b, NN_DIGIT* high, NN_DIGIT* low);
// Bit length of one digit (0 to 32).
unsigned nn_digit_bits(NN_DIGIT a);
// a = b - c * d over `digits` digits; returns the amount owed to the digit
// above. c == 0 returns 0 and leaves a unwritten.
NN_DIGIT nn_subdigitmult(NN_DIGIT* a, const NN_DIGIT* b, NN_DIGIT c, const NN_DIGIT* d, std::uint32_t digits);

// The documented algorithms of QV_NN_Div, QV_NN_ModMult and QV_NN_ModExp,
// which the exported functions keep as their fallback: the oracle for the
// engine's versions.
void nn_reference_div(NN_DIGIT* a, NN_DIGIT* b, const NN_DIGIT* c, std::uint32_t cDigits, const NN_DIGIT* d,
                      std::uint32_t dDigits);
void nn_reference_mod_mult(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, const NN_DIGIT* d,
                           std::uint32_t digits);
void nn_reference_mod_exp(NN_DIGIT* a, const NN_DIGIT* b, const NN_DIGIT* c, std::uint32_t cDigits,
                          const NN_DIGIT* d, std::uint32_t dDigits);

}  // namespace corvane::test_seams

#endif
