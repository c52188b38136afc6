// Test-only access to the raw RSA operations of rsa.cpp, either as the
// library runs them (the engine wherever it gives the documented result) or
// by the documented steps alone, the oracle of the differential tests; with
// the engine's fault injection (engine/bignum/crt_glitch_seams.h).
// Defined only in the test archive (CORVANE_TEST_SEAMS), never in the
// shared library.
#ifndef CORVANE_RSA_SEAMS_H
#define CORVANE_RSA_SEAMS_H

#include <Corvane/rsa.h>

#include <cstdint>

#include "engine/bignum/crt_glitch_seams.h"

namespace corvane::test_seams {

// output = input ^ e mod n as modulusLen bytes; status 0 or QV_STATUS_BAD_DATA.
std::int32_t rsa_public_raw(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                            std::uint32_t inputLen, const R_RSA_PUBLIC_KEY* key, bool documentedOnly);
// The private (CRT) operation, likewise, with the check of its result
// before release: status QV_STATUS_BAD_DATA and the output cleared when the
// result fails it.
std::int32_t rsa_private_raw(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                             std::uint32_t inputLen, const R_RSA_PRIVATE_KEY* key, bool documentedOnly);
// The private operation releasing whatever it computed, unchecked: for
// comparing the engine's arithmetic with the documented steps on keys whose
// fields do not belong together, which the check refuses.
std::int32_t rsa_private_unchecked(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                                   std::uint32_t inputLen, const R_RSA_PRIVATE_KEY* key, bool documentedOnly);

}  // namespace corvane::test_seams

#endif  // CORVANE_RSA_SEAMS_H
