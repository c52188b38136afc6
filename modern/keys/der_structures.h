// The DER structures of RSA keys, read strictly and written by the library:
// PKCS #1 RSAPrivateKey and RSAPublicKey, PKCS #8 PrivateKeyInfo and
// SubjectPublicKeyInfo. Values are views into the caller's bytes.
// Internal: not installed, not exported.
#ifndef CORVANE_MODERN_KEY_DER_H
#define CORVANE_MODERN_KEY_DER_H

#include <Corvane/rsa.h>

#include <cstdint>
#include <span>

#include "modern/keys/der_reader.h"
#include "modern/keys/der_writer.h"

namespace corvane::detail {

using Bytes = std::span<const std::uint8_t>;

struct PublicValues {
    Bytes n, e;
};

struct PrivateValues {
    Bytes n, e, d, p, q, dP, dQ, qInv;
};

// What a DER object looks like from its first elements' tags.
enum class DerKind {
    unknown,
    privateKeyInfo,           // PKCS #8
    encryptedPrivateKeyInfo,  // PKCS #8, encrypted
    rsaPrivateKey,            // PKCS #1
    subjectPublicKeyInfo,
    rsaPublicKey,  // PKCS #1
    certificate,
    otherPrivateKey,  // a private key of another algorithm (an EC key's own structure)
};

// The kind of the object; unknown (with the fault) when its outer SEQUENCE
// cannot be read: keyDamaged when its header says more bytes than follow.
DerKind derKindOf(Bytes der, DerFault& fault) noexcept;

// The readers refuse what breaks the encoding rules (keyMalformed), another
// structure (keyUnreadable), another algorithm than rsaEncryption
// (keyOtherAlgorithm) and a PKCS #1 key of more than two primes
// (multiPrimeKey).
bool readRsaPrivateKey(Bytes der, PrivateValues& values, DerFault& fault) noexcept;
bool readPrivateKeyInfo(Bytes der, PrivateValues& values, DerFault& fault) noexcept;
bool readRsaPublicKey(Bytes der, PublicValues& values, DerFault& fault) noexcept;
bool readSubjectPublicKeyInfo(Bytes der, PublicValues& values, DerFault& fault) noexcept;

// The writers; false when memory runs out.
bool writeRsaPrivateKey(const R_RSA_PRIVATE_KEY& key, DerWriter& out) noexcept;
bool writePrivateKeyInfo(const R_RSA_PRIVATE_KEY& key, DerWriter& out) noexcept;
bool writeRsaPublicKey(Bytes modulus, Bytes exponent, DerWriter& out) noexcept;
bool writeSubjectPublicKeyInfo(Bytes modulus, Bytes exponent, DerWriter& out) noexcept;

// Object identifiers (their DER contents).
namespace oid {
inline constexpr std::uint8_t kRsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
}  // namespace oid

bool sameBytes(Bytes a, Bytes b) noexcept;

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_KEY_DER_H
