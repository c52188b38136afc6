// Passphrase encryption of private keys, with libcrypto's PBKDF2,
// EVP_BytesToKey and EVP ciphers and the library's own PKCS #12 key
// derivation (pkcs12_kdf.h), working into buffers the library owns and
// wipes:
//  - PKCS #8 EncryptedPrivateKeyInfo under PBES2: PBKDF2 with
//    hmacWithSHA1/224/256/384/512, AES-128/192/256-CBC or DES-EDE3-CBC;
//  - the older EncryptedPrivateKeyInfo schemes many stored key files use
//    (read only): pbeWithSHAAnd3-KeyTripleDES-CBC and
//    pbeWithSHAAnd2-KeyTripleDES-CBC (the PKCS #12 key derivation, the
//    default of OpenSSL 1.x's "pkcs8 -topk8"), pbeWithMD5AndDES-CBC and
//    pbeWithSHA1AndDES-CBC (PBKDF1); the RC2 and RC4 ones are refused;
//  - the traditional PEM encryption of "RSA PRIVATE KEY" (a DEK-Info
//    header naming AES-128/192/256-CBC or DES-EDE3-CBC and the IV; the key
//    from EVP_BytesToKey with MD5 over the passphrase and the IV's first
//    eight bytes, as the openssl tool makes it).
// Internal: not installed, not exported.
#ifndef CORVANE_MODERN_KEY_CRYPT_H
#define CORVANE_MODERN_KEY_CRYPT_H

#include <span>
#include <string>
#include <string_view>

#include "der_reader.h"
#include "der_writer.h"
#include "pem_armour.h"
#include "secret_file.h"

namespace corvane::detail {

// Key derivation iteration counts above this are refused (keyUnreadable),
// so that a hostile file cannot hold a reader for minutes.
inline constexpr std::uint32_t kMaxPbkdf2Iterations = 10'000'000;

// The parameters of an EncryptedPrivateKeyInfo, read before any passphrase
// is asked for. Views into the DER.
struct EncryptedKeyParameters {
    std::span<const std::uint8_t> salt, iv, encrypted;  // iv: PBES2 only
    std::uint32_t iterations = 0;
    int digest = 0;   // PBES2: index into the PRF table
    int cipher = 0;   // PBES2: index into the cipher table
    int legacy = -1;  // an older scheme: index into its table; -1 for PBES2
};
bool readEncryptedPrivateKeyInfo(std::span<const std::uint8_t> der, EncryptedKeyParameters& parameters,
                                 DerFault& fault) noexcept;

// Whether the PEM block is traditionally encrypted ("Proc-Type: 4,ENCRYPTED").
bool isTraditionallyEncrypted(const PemBlock& block) noexcept;

// Decryption into plain: ok, wrongPassphrase (the padding does not check
// out), keyUnreadable (an unknown cipher, a damaged DEK-Info, a cipher this
// libcrypto lacks) or outOfMemory.
ErrorCode decryptPrivateKeyInfo(const EncryptedKeyParameters& parameters, std::span<const char> passphrase,
                                SecretBuffer& plain, const char*& detail) noexcept;
ErrorCode decryptTraditional(const PemBlock& block, std::span<const std::uint8_t> encrypted,
                             std::span<const char> passphrase, SecretBuffer& plain,
                             const char*& detail) noexcept;

// Encryption with fresh random salt and IV: an EncryptedPrivateKeyInfo
// (PBKDF2 with hmacWithSHA256, 2048 iterations, AES-256-CBC) of the
// PrivateKeyInfo, or the traditional form (AES-256-CBC) whose header lines
// go to headers. false when memory or randomness runs out.
bool encryptPbes2(std::span<const std::uint8_t> privateKeyInfo, std::string_view passphrase,
                  DerWriter& out) noexcept;
bool encryptTraditional(std::span<const std::uint8_t> rsaPrivateKey, std::string_view passphrase,
                        std::string& headers, SecretBuffer& encrypted) noexcept;

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_KEY_CRYPT_H
