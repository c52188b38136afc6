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
// Reading is split in two: what the file shows before decryption (the
// scheme, its parameters, the ciphertext's length), which may be told
// precisely, and the decryption itself, which hands back every block with
// its padding for the caller to judge with everything else at once.
// Internal: not installed, not exported.
#ifndef CORVANE_MODERN_KEY_CRYPT_H
#define CORVANE_MODERN_KEY_CRYPT_H

#include <Corvane/keys.h>

#include <span>
#include <string>
#include <string_view>

#include "modern/keys/der_reader.h"
#include "modern/keys/der_writer.h"
#include "modern/keys/pem_armour.h"
#include "modern/support/secret_file.h"

namespace corvane::detail {

// How an encrypted private key is protected: everything read before a
// passphrase is asked for. salt and encrypted are views into the input.
struct KeyProtection {
    enum class Scheme { pbes2, legacy, traditional };
    Scheme scheme = Scheme::pbes2;
    std::span<const std::uint8_t> salt, encrypted;
    std::uint8_t iv[16] = {};  // PBES2 and traditional
    std::size_t ivLength = 0;
    std::uint32_t iterations = 0;
    int digest = 0;   // PBES2: index into the PRF table
    int cipher = 0;   // PBES2 and traditional: index into the cipher table
    int legacy = -1;  // an older scheme: index into its table
};

// An EncryptedPrivateKeyInfo's scheme and parameters; the faults of the
// DER reader, keyUnreadable for a scheme or parameter the reader does not
// take (an iteration count of zero among them).
bool readEncryptedPrivateKeyInfo(std::span<const std::uint8_t> der, KeyProtection& protection,
                                 DerFault& fault) noexcept;

// Whether the PEM block is traditionally encrypted ("Proc-Type: 4,ENCRYPTED").
bool isTraditionallyEncrypted(const PemBlock& block) noexcept;
// The DEK-Info header's cipher and IV, with encrypted (the block's decoded
// body) as the ciphertext; keyUnreadable for an unknown cipher or a damaged
// header.
bool readTraditionalProtection(const PemBlock& block, std::span<const std::uint8_t> encrypted,
                               KeyProtection& protection, DerFault& fault) noexcept;

// What the ciphertext's length tells before it is decrypted: keyDamaged for
// an empty one or one that is not whole cipher blocks, keyTooLarge for one
// longer than the encoding of any key the records hold.
bool checkCiphertext(const KeyProtection& protection, DerFault& fault) noexcept;

// The scheme, derivation, cipher and iteration count, for the passphrase
// callback and messages.
KeyEncryption describeProtection(const KeyProtection& protection) noexcept;

// The cipher's block size: 8 or 16 bytes.
std::size_t cipherBlockSize(const KeyProtection& protection) noexcept;

// The readings of the passphrase to try, one after the other: 2 for the
// PKCS #12 derivation under a passphrase that is UTF-8 but not ASCII (as
// UTF-8, as libcrypto reads it, then widened byte by byte, as older writers
// did), 1 otherwise.
unsigned passphraseReadings(const KeyProtection& protection, std::span<const char> passphrase) noexcept;

// Decrypts every block of the ciphertext, under the key derived from the
// passphrase read the given way (0 or 1, see passphraseReadings), into
// plain: padding included, left for the caller to check in constant time.
// ok, keyUnreadable (this libcrypto cannot derive the key or run the
// cipher) or outOfMemory; never an answer that depends on the plaintext.
ErrorCode decryptKeyBlocks(const KeyProtection& protection, std::span<const char> passphrase,
                           unsigned reading, SecretBuffer& plain) noexcept;

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
