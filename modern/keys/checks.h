// The checks that every key reader and writer applies to a key record, so
// that a key refused on the way in is refused on the way out as well.
// Internal: not installed, not exported.
#ifndef CORVANE_MODERN_KEY_CHECKS_H
#define CORVANE_MODERN_KEY_CHECKS_H

#include <Corvane/errors.h>
#include <Corvane/rsa.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace corvane::detail {

// Below this a PKCS #1 v1.5 block (11 bytes of overhead) has no room left.
inline constexpr unsigned kMinModulusBits = 96;

// Miller-Rabin rounds with random bases for each prime of a private key.
// The key's other checks (n = p * q, the exponents modulo p - 1 and q - 1)
// come first; these rounds then catch a composite factor with an error below
// 4^-rounds even for a chosen one, and leave loading a 1024-bit key in a few
// milliseconds (BN_check_prime's 64 rounds take several times that).
inline constexpr int kPrimeTestRounds = 8;

// Number of significant bits of a big-endian number (0 for zero).
unsigned significantBits(std::span<const std::uint8_t> bigEndian) noexcept;

// A public key's modulus and exponent fields: keyTooSmall below 96 bits,
// keyInvalid for an even modulus or an exponent that is even or below 3,
// ok otherwise. detail, when given, receives a static text saying why.
ErrorCode checkPublicFields(std::span<const std::uint8_t, MAX_RSA_MODULUS_LEN> modulus,
                            std::span<const std::uint8_t, MAX_RSA_MODULUS_LEN> exponent,
                            const char** detail = nullptr) noexcept;

// checkPublicFields, plus keyIncomplete when d, a prime, a prime exponent
// or the coefficient is zero.
ErrorCode checkPrivateRecord(const R_RSA_PRIVATE_KEY& key, const char** detail = nullptr) noexcept;

// checkPrivateRecord, then whether the values fit together (keyInconsistent
// otherwise): bits is the modulus's bit count, n = p * q, p != q, both odd
// and probably prime, dP = d mod (p - 1), dQ = d mod (q - 1),
// q * qInv = 1 (mod p), e * d = 1 modulo p - 1 and q - 1. The numbers live
// in OpenSSL's secure heap (where one is set up) and are cleared on free.
ErrorCode checkPrivateKey(const R_RSA_PRIVATE_KEY& key, const char** detail = nullptr) noexcept;

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_KEY_CHECKS_H
