// Decryption of PKCS #1 v1.5 type-2 blocks that never tells a malformed
// block from a well-formed one ("implicit rejection"): where the block does
// not check out, the answer is a substitute derived from the ciphertext and
// a secret of the key, the same every time for the same ciphertext and
// unpredictable to anyone without the key. The derivation is the published
// one (draft-irtf-cfrg-rsa-guidance, as OpenSSL 3.2 and later run it):
//
//   secret = SHA-256(d as a big-endian number of the modulus length)
//   kdk    = HMAC-SHA256(secret, ciphertext left-padded to the modulus length)
//   PRF(label, bits): the HMAC-SHA256(kdk, i || label || bits) blocks for
//          i = 0, 1, ... (i and bits as 2 big-endian bytes), cut to bits / 8
//
// The substitute message is the last L bytes of PRF("message", 8 * k) (k the
// modulus length), where L is the last of 128 candidates from PRF("length",
// 2048), each masked to the bit length of k - 10, that lies below k - 10.
//
// Everything here runs without a branch or a memory index that depends on
// the block or the key; only a returned length is made public, and that
// length does not say which of the two it came from. Internal: neither
// exported nor installed.
#ifndef CORVANE_MODERN_IMPLICIT_REJECTION_H
#define CORVANE_MODERN_IMPLICIT_REJECTION_H

#include <Corvane/errors.h>
#include <Corvane/rsa.h>

#include <cstddef>
#include <cstdint>
#include <system_error>

#include "engine/bignum/rsa_prepared.h"

namespace corvane::detail {

inline constexpr std::size_t kRejectionSecretSize = 32;

// What a private key object keeps besides its record: the engine's set-up
// and the secret that keys its substitutes. Plain bytes (trivially
// copyable), wiped with the key.
struct PrivateKeySetUp {
    engine::PreparedPrivateKey engine;
    std::uint8_t rejectionSecret[kRejectionSecretSize];
};

// Sets up everything for the key record (bits in 1..1024). outOfMemory when
// libcrypto cannot hash; the set-up is then unusable and all zero.
std::error_code preparePrivateKey(PrivateKeySetUp& setUp, const R_RSA_PRIVATE_KEY& key) noexcept;

// The message of the type-2 block under the key, or a substitute of its
// length (0 to modulus length - 11): at most the modulus length is written to
// out, and *outLen receives the count. Errors only for what is public:
// badLength for an input longer than the modulus, badData for one not below
// n (and for a result the check before release refuses: a damaged key or a
// fault), outOfMemory.
std::error_code decryptImplicit(const R_RSA_PRIVATE_KEY& key, const PrivateKeySetUp& setUp,
                                const std::uint8_t* block, std::size_t blockLen, std::uint8_t* out,
                                std::size_t* outLen) noexcept;

// Exactly keySize bytes into out: the message of the block when it is a
// well-formed type-2 block whose message has exactly keySize bytes, and a
// substitute of keySize bytes otherwise (the last keySize bytes of
// PRF("message", 8 * k)). Errors only for what is public: badLength for a
// block that is not the modulus length, invalidInput for a keySize of 0 or
// above the modulus length less 11, badData as above, outOfMemory.
std::error_code decryptKey(const R_RSA_PRIVATE_KEY& key, const PrivateKeySetUp& setUp, const std::uint8_t* block,
                           std::size_t blockLen, std::uint8_t* out, std::size_t keySize) noexcept;

// The parts of those two after the raw operation, for the batches: the
// decrypted block em (the modulus length, k bytes) of ciphertext
// (ciphertextLen <= k bytes) turned into the message or its substitute.
std::error_code implicitMessage(const std::uint8_t* em, std::size_t k, const std::uint8_t* ciphertext,
                                std::size_t ciphertextLen, const std::uint8_t* secret, std::uint8_t* out,
                                std::size_t* outLen) noexcept;
std::error_code keyOrSubstitute(const std::uint8_t* em, std::size_t k, const std::uint8_t* ciphertext,
                                const std::uint8_t* secret, std::uint8_t* out, std::size_t keySize) noexcept;

// Whether keySize may be asked of a key whose blocks are k bytes.
inline bool keySizeFits(std::size_t keySize, std::size_t k) noexcept { return keySize != 0 && keySize + 11 <= k; }

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_IMPLICIT_REJECTION_H
