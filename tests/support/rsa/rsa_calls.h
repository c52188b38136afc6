// Thin wrappers that call the library's four RSA block operations on byte
// vectors, and a deterministically seeded random pool for them.
#ifndef CORVANE_TEST_RSA_CALLS_H
#define CORVANE_TEST_RSA_CALLS_H

#include <Corvane/r_random.h>
#include <Corvane/rsa.h>

#include <cstdint>

#include "tests/support/test_support.h"

namespace corvane::test {

struct RsaResult {
    std::int32_t status = -1;
    Bytes out;  // the output bytes (empty unless status is 0)
};

RsaResult callPublicEncrypt(const R_RSA_PUBLIC_KEY& key, const Bytes& message, R_RANDOM_STRUCT& pool);
RsaResult callPrivateEncrypt(const R_RSA_PRIVATE_KEY& key, const Bytes& message);
RsaResult callPublicDecrypt(const R_RSA_PUBLIC_KEY& key, const Bytes& input);
RsaResult callPrivateDecrypt(const R_RSA_PRIVATE_KEY& key, const Bytes& input);

// A pool seeded with 256 bytes from a fixed-seed generator.
R_RANDOM_STRUCT seededTestPool(std::uint64_t seed);

}  // namespace corvane::test

#endif
