// Test-only access to the raw RSA operations of rsa.cpp, either as the
// library runs them (the engine wherever it gives the documented result) or
// by the documented steps alone, the oracle of the differential tests.
// Defined only in the test archive (CORVANE_TEST_SEAMS), never in the
// shared library.
#ifndef CORVANE_RSA_SEAMS_H
#define CORVANE_RSA_SEAMS_H

#include <Corvane/rsa.h>

#include <cstdint>

namespace corvane::test_seams {

// output = input ^ e mod n as modulusLen bytes; status 0 or QV_STATUS_BAD_DATA.
std::int32_t rsa_public_raw(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                            std::uint32_t inputLen, const R_RSA_PUBLIC_KEY* key, bool documentedOnly);
// The private (CRT) operation, likewise.
std::int32_t rsa_private_raw(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                             std::uint32_t inputLen, const R_RSA_PRIVATE_KEY* key, bool documentedOnly);

}  // namespace corvane::test_seams

#endif  // CORVANE_RSA_SEAMS_H
