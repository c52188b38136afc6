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

// Number of significant bits of a big-endian number (0 for zero).
unsigned significantBits(std::span<const std::uint8_t> bigEndian) noexcept;

// A public key's modulus and exponent fields: keyTooSmall below 96 bits,
// keyInvalid for an even modulus or a zero exponent, ok otherwise.
ErrorCode checkPublicFields(std::span<const std::uint8_t, MAX_RSA_MODULUS_LEN> modulus,
                            std::span<const std::uint8_t, MAX_RSA_MODULUS_LEN> exponent) noexcept;

// checkPublicFields, plus keyIncomplete when d, a prime, a prime exponent
// or the coefficient is zero.
ErrorCode checkPrivateRecord(const R_RSA_PRIVATE_KEY& key) noexcept;

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_KEY_CHECKS_H
