// The PKCS #12 key derivation (RFC 7292, appendix B), which the older
// PKCS #8 encryption schemes use, written here rather than taken from
// libcrypto because libcrypto frees its copies of the passphrase unwiped.
// Every buffer that holds the passphrase or derived bytes is the library's
// own and is wiped.
// Internal: not installed, not exported.
#ifndef CORVANE_MODERN_PKCS12_KDF_H
#define CORVANE_MODERN_PKCS12_KDF_H

#include <openssl/types.h>

#include <cstdint>
#include <span>

#include "modern/support/secret_file.h"

namespace corvane::detail {

// The passphrase as the derivation takes it, a BMPString (UTF-16,
// big-endian) ending in a zero character. fromUtf8 reads UTF-8 as libcrypto
// and OpenSSL 1.1 on do; false for bytes that are not UTF-8 or when memory
// runs out. widened turns each byte into one character, as OpenSSL before
// 1.1 did; false when memory runs out.
bool bmpPassphraseFromUtf8(std::span<const char> passphrase, SecretBuffer& bmp) noexcept;
bool bmpPassphraseWidened(std::span<const char> passphrase, SecretBuffer& bmp) noexcept;

// Fills out with the bytes derived for purpose id (1: key, 2: IV, 3: MAC
// key) with digest md. false when the digest fails or memory runs out.
bool pkcs12Derive(const EVP_MD* md, std::span<const std::uint8_t> bmpPassphrase,
                  std::span<const std::uint8_t> salt, std::uint8_t id, std::uint32_t iterations,
                  std::span<std::uint8_t> out) noexcept;

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_PKCS12_KDF_H
