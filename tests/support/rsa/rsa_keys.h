// RSA keys for tests: keys that OpenSSL generates (or that published vectors
// give), copied into the library's key records, and OpenSSL's own PKCS #1
// v1.5 and raw operations under the same keys as an independent oracle.
#ifndef CORVANE_TEST_RSA_KEYS_H
#define CORVANE_TEST_RSA_KEYS_H

#include <Corvane/rsa.h>
#include <openssl/evp.h>

#include <memory>
#include <optional>
#include <string>

#include "tests/support/test_support.h"

namespace corvane::test {

struct EvpPkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using EvpKey = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;

// The components of an RSA key as unsigned big-endian byte strings.
struct RsaComponents {
    Bytes n, e, d, p, q, dP, dQ, qInv;
};

// One key in both worlds: the OpenSSL object and the library's records.
struct RsaKey {
    EvpKey evp;
    RsaComponents parts;
    R_RSA_PUBLIC_KEY publicKey{};
    R_RSA_PRIVATE_KEY privateKey{};
    unsigned bits = 0;                                   // bit length of n
    bool fitsRecords = false;  // false: a value is too long for its field (records zero but bits)
    std::size_t modulusLen() const { return (bits + 7) / 8; }
};

// A fresh key of `bits` bits and public exponent 65537 from OpenSSL.
RsaKey generateRsaKey(unsigned bits);
// A key of `bits` bits generated once per process and then reused (key
// generation dominates test time otherwise).
const RsaKey& cachedRsaKey(unsigned bits);
// The key that an OpenSSL key object holds (takes ownership).
RsaKey rsaKeyFromEvp(EvpKey key);
// A key from its components; the OpenSSL object is built from them too.
RsaKey rsaKeyFromComponents(const RsaComponents& parts);
// The components that follow from two primes (in that order, p first) and
// the public exponent e: n, d = e^-1 mod (p-1)(q-1), dP, dQ, qInv = q^-1
// mod p. Empty when e or q has no inverse there. The primes need not be
// prime: tests build faulty keys with it.
std::optional<RsaComponents> rsaComponentsFromPrimes(const BIGNUM* p, const BIGNUM* q, unsigned long e);
// A key from PEM text (PKCS #1 "RSA PRIVATE KEY" or PKCS #8).
RsaKey rsaKeyFromPem(const std::string& pem);

// Copies the components into the records, right-aligned in each field;
// `bits` is set to the bit length of n whether or not the values fit.
// Returns false (fields left zero) when a value is too long for its field.
bool fillRsaRecords(const RsaComponents& parts, R_RSA_PUBLIC_KEY* publicKey, R_RSA_PRIVATE_KEY* privateKey);

// The private record with the primes in the given order (larger first or
// smaller first), with prime exponents swapped and the coefficient
// recomputed to match.
R_RSA_PRIVATE_KEY privateKeyWithPrimeOrder(const RsaKey& key, bool largerPrimeFirst);

// OpenSSL operations under the key. `padding` is RSA_PKCS1_PADDING or
// RSA_NO_PADDING. Each returns nullopt when OpenSSL refuses.
std::optional<Bytes> opensslPublicEncrypt(const RsaKey& key, const Bytes& message, int padding);
std::optional<Bytes> opensslPrivateDecrypt(const RsaKey& key, const Bytes& ciphertext, int padding);
// Type-1 block over raw data (no digest), or the raw private operation.
std::optional<Bytes> opensslPrivateEncrypt(const RsaKey& key, const Bytes& message, int padding);
// Public operation and type-1 check (verify-recover without a digest).
std::optional<Bytes> opensslPublicDecrypt(const RsaKey& key, const Bytes& signature, int padding);

}  // namespace corvane::test

#endif
