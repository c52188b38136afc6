// RSA PKCS #1 v1.5 in the modern layer (part of <Corvane/corvane.hpp>):
// RsaPublicKey and RsaPrivateKey, read by the key readers of
// <Corvane/keys.h>, and their block operations and batches.
#ifndef CORVANE_MODERN_RSA_HPP
#define CORVANE_MODERN_RSA_HPP

#include <Corvane/CorvaneCxx20.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <Corvane/CorvaneExport.h>
#include <Corvane/keys.h>
#include <Corvane/modern/bytes.hpp>
#include <Corvane/modern/random.hpp>
#include <Corvane/rsa.h>

namespace corvane::v1 {

// RSA PKCS #1 v1.5 (moduli of 96 to 1024 bits), by the steps of the QV_RSA
// functions on a key whose arithmetic set-up is done once, when the object
// is made (the functions redo it on every call).
// Kept for interoperability: not recommended for new designs.
//
// Keys come from the readers of <Corvane/keys.h> (which name the accepted
// forms, and say what an encrypted key's refusals tell: one answer for
// everything found once it is decrypted, wrongPassphrase) and throw Error
// with their ErrorCode, what() naming the file and what exactly is wrong
// where the reader says. options sets the iteration limit of an encrypted
// key (KeyReadOptions; 1,000,000 unless set, 1 to kMaxKeyIterationLimit:
// another limit throws invalidInput whatever the key). Each is a value:
// copies are independent, and every copy wipes its record when it goes.
namespace detail {
struct RsaKeySetUp;
}  // namespace detail

// The name the RSA batches first gave it.
using RsaBatchResult = BatchResult;

class CORVANE_EXPORT RsaPublicKey {
public:
    static RsaPublicKey fromEncoded(ByteView pemOrDer, const KeyPassphrase& passphrase = {},
                                    const KeyReadOptions& options = {});
    static RsaPublicKey fromFile(const std::string& path, const KeyPassphrase& passphrase = {},
                                 const KeyReadOptions& options = {});
    // The same, reporting a refusal in error (the key is then empty).
    static std::optional<RsaPublicKey> fromEncoded(ByteView pemOrDer, const KeyPassphrase& passphrase,
                                                   const KeyReadOptions& options, ErrorInfo& error) noexcept;
    static std::optional<RsaPublicKey> fromFile(const std::string& path, const KeyPassphrase& passphrase,
                                                const KeyReadOptions& options, ErrorInfo& error) noexcept;
    // The texts QVSimpleRSA::setPublicKey takes (see rsaPublicKeyFromHex).
    static RsaPublicKey fromHex(std::string_view modulus, std::string_view exponent);
    // A copy of a record; its bits must lie in 1..1024 (keyTooLarge above,
    // keyInvalid for 0).
    static RsaPublicKey fromRecord(const R_RSA_PUBLIC_KEY& record);

    RsaPublicKey(const RsaPublicKey& other) noexcept = default;
    RsaPublicKey& operator=(const RsaPublicKey& other) noexcept = default;
    RsaPublicKey(RsaPublicKey&& other) noexcept;             // other is left all zero
    RsaPublicKey& operator=(RsaPublicKey&& other) noexcept;  // likewise
    ~RsaPublicKey();                                         // wipes the record and its set-up

    const R_RSA_PUBLIC_KEY& record() const noexcept { return record_; }
    unsigned bits() const noexcept { return record_.bits; }
    // The length of every block: (bits + 7) / 8 bytes.
    std::size_t blockSize() const noexcept { return (record_.bits + 7u) / 8u; }
    // The longest message: blockSize() - 11 bytes.
    std::size_t maxMessageSize() const noexcept { return blockSize() > 11 ? blockSize() - 11 : 0; }

    RsaHexKey toHex() const;
    std::string toPem(RsaKeyFormat format = RsaKeyFormat::standard) const;
    // The same structures as DER bytes (see rsaPublicKeyToDer).
    std::vector<std::uint8_t> toDer(RsaKeyFormat format = RsaKeyFormat::standard) const;

    // One type-2 block (random non-zero filler). The first form seeds a fresh
    // pool for the call, as QVSimpleRSA does; the second draws from the
    // caller's. ErrorCode::badLength for a message longer than
    // maxMessageSize(), badData for a key whose modulus is below the block.
    std::vector<std::uint8_t> encrypt(ByteView message) const;
    std::vector<std::uint8_t> encrypt(ByteView message, RandomPool& pool) const;
    std::vector<std::uint8_t> encrypt(ByteView message, RandomPool& pool, ErrorInfo& error) const noexcept;

    // The message of a type-1 block that RsaPrivateKey::sign made (the
    // "verify and recover" half of a raw PKCS #1 v1.5 signature).
    // ErrorCode::badData for a block that is not one, badLength for an input
    // longer than blockSize().
    std::vector<std::uint8_t> recover(ByteView signature) const;
    std::vector<std::uint8_t> recover(ByteView signature, std::error_code& error) const noexcept;
    std::vector<std::uint8_t> recover(ByteView signature, ErrorInfo& error) const noexcept;

    // encrypt() on each message in turn, drawing from one pool; per item
    // the block or the error encrypt() would have thrown.
    std::vector<RsaBatchResult> encryptBatch(std::span<const ByteView> messages) const;
    std::vector<RsaBatchResult> encryptBatch(std::span<const ByteView> messages, RandomPool& pool) const;

private:
    friend class RsaPrivateKey;
    friend struct detail::RsaKeySetUp;  // sets up prepared_ from record_, in the library
    RsaPublicKey() noexcept;
    R_RSA_PUBLIC_KEY record_;
    // The arithmetic's set-up of the key (Montgomery constants of n), made
    // once when the key is made and used by every operation; plain bytes, so
    // that copies cannot fail.
    alignas(16) unsigned char prepared_[768];
};

// How a private-key decryption answers a block that is not a well-formed
// type-2 block.
enum class RsaRejection : unsigned char {
    // With ErrorCode::badData. Whoever sees that answer for blocks of their
    // choosing holds a padding oracle, through which Bleichenbacher's attack
    // decrypts any captured block: only for callers that never let the
    // outcome reach the sender of the block.
    report,
    // With a substitute message: a length and bytes derived from the block
    // and a secret of the key (the private exponent), the same every time
    // for the same block, which no one without the key can tell from a real
    // message. The derivation is the published one ("implicit rejection",
    // draft-irtf-cfrg-rsa-guidance): byte for byte what OpenSSL 3.2 and
    // later return for the same key and block. What a service facing
    // clients should use, unless it can use decryptKey.
    implicit,
};

class CORVANE_EXPORT RsaPrivateKey {
public:
    static RsaPrivateKey fromEncoded(ByteView pemOrDer, const KeyPassphrase& passphrase = {},
                                     const KeyReadOptions& options = {});
    static RsaPrivateKey fromFile(const std::string& path, const KeyPassphrase& passphrase = {},
                                  const KeyReadOptions& options = {});
    // The same, reporting a refusal in error (the key is then empty).
    static std::optional<RsaPrivateKey> fromEncoded(ByteView pemOrDer, const KeyPassphrase& passphrase,
                                                    const KeyReadOptions& options, ErrorInfo& error) noexcept;
    static std::optional<RsaPrivateKey> fromFile(const std::string& path, const KeyPassphrase& passphrase,
                                                 const KeyReadOptions& options, ErrorInfo& error) noexcept;
    // A copy of a CRT record; its bits must lie in 1..1024.
    static RsaPrivateKey fromRecord(const R_RSA_PRIVATE_KEY& record);
    // A new key of `bits` bits (512 to 1024, invalidInput otherwise) and
    // public exponent 65537. Its primes come from the pool (notSeeded while
    // it wants seed bytes): random odd starting points, the first prime
    // above each by libcrypto's test (BN_check_prime), so the same seed
    // gives the same key. The pool's 128-bit state bounds the key's
    // unpredictability, more than the ~80 bits a 1024-bit modulus offers;
    // seed it from the operating system (RandomPool() does).
    static RsaPrivateKey generate(unsigned bits, RandomPool& pool);

    RsaPrivateKey(const RsaPrivateKey& other) noexcept = default;
    RsaPrivateKey& operator=(const RsaPrivateKey& other) noexcept = default;
    RsaPrivateKey(RsaPrivateKey&& other) noexcept;             // other is left all zero
    RsaPrivateKey& operator=(RsaPrivateKey&& other) noexcept;  // likewise
    ~RsaPrivateKey();                                          // wipes the record and its set-up

    const R_RSA_PRIVATE_KEY& record() const noexcept { return record_; }
    unsigned bits() const noexcept { return record_.bits; }
    std::size_t blockSize() const noexcept { return (record_.bits + 7u) / 8u; }
    std::size_t maxMessageSize() const noexcept { return blockSize() > 11 ? blockSize() - 11 : 0; }
    RsaPublicKey publicKey() const noexcept;

    // PKCS #8 or PKCS #1 PEM, encrypted with AES-256-CBC under a non-empty
    // passphrase (see rsaPrivateKeyToPem). A secret: wipe it when done.
    std::string toPem(RsaKeyFormat format = RsaKeyFormat::standard, std::string_view passphrase = {}) const;
    // The same as DER bytes; a passphrase suits the standard format only
    // (see rsaPrivateKeyToDer). A secret too.
    std::vector<std::uint8_t> toDer(RsaKeyFormat format = RsaKeyFormat::standard,
                                    std::string_view passphrase = {}) const;

    // The message of a type-2 block that RsaPublicKey::encrypt made.
    // ErrorCode::badData for a block that is not one (wrong key, damaged
    // block), badLength for an input longer than blockSize().
    std::vector<std::uint8_t> decrypt(ByteView block) const;
    std::vector<std::uint8_t> decrypt(ByteView block, std::error_code& error) const noexcept;
    std::vector<std::uint8_t> decrypt(ByteView block, ErrorInfo& error) const noexcept;
    // The same with the rejection chosen. With RsaRejection::implicit the
    // only errors are for what anyone can see: badLength for an input longer
    // than blockSize(), badData for one whose value is not below the
    // modulus. No branch or memory index depends on whether the block was
    // well formed; the length of the result is public, and does not tell.
    std::vector<std::uint8_t> decrypt(ByteView block, RsaRejection rejection) const;
    std::vector<std::uint8_t> decrypt(ByteView block, RsaRejection rejection,
                                      std::error_code& error) const noexcept;
    std::vector<std::uint8_t> decrypt(ByteView block, RsaRejection rejection,
                                      ErrorInfo& error) const noexcept;

    // A symmetric key of keySize bytes wrapped in a type-2 block, unwrapped
    // without ever telling whether the block was well formed: exactly
    // keySize bytes, the block's message when it is a well-formed type-2
    // block whose message has keySize bytes, and otherwise a substitute
    // derived from the block and a secret of the key (as for
    // RsaRejection::implicit), the same every time for the same block and
    // unpredictable without the key. A wrong key then fails where it is
    // used (a payload that does not decrypt), and a sender learns nothing
    // about the padding: no branch, memory index or early exit depends on
    // it. Errors only for what anyone can see: badLength for a block that is
    // not blockSize() bytes, invalidInput for a keySize of 0 or above
    // maxMessageSize(), badData for a block whose value is not below the
    // modulus. The result is a secret: wipe it when done.
    std::vector<std::uint8_t> decryptKey(ByteView block, std::size_t keySize) const;
    std::vector<std::uint8_t> decryptKey(ByteView block, std::size_t keySize,
                                         std::error_code& error) const noexcept;
    std::vector<std::uint8_t> decryptKey(ByteView block, std::size_t keySize,
                                         ErrorInfo& error) const noexcept;

    // One type-1 block (0xFF filler) over the message, which is signed as
    // given: to make a PKCS #1 v1.5 signature, pass the DigestInfo
    // encoding of the digest. ErrorCode::badLength for a message longer
    // than maxMessageSize().
    std::vector<std::uint8_t> sign(ByteView message) const;
    std::vector<std::uint8_t> sign(ByteView message, ErrorInfo& error) const noexcept;

    // decrypt() and sign() on many inputs under this key; per item its
    // result or the error that item met, in the order given. An item's
    // outcome and timing do not depend on the other items' contents.
    std::vector<RsaBatchResult> decryptBatch(std::span<const ByteView> blocks) const;
    std::vector<RsaBatchResult> signBatch(std::span<const ByteView> messages) const;
    // decrypt() with a rejection, and decryptKey(), likewise.
    std::vector<RsaBatchResult> decryptBatch(std::span<const ByteView> blocks, RsaRejection rejection) const;
    std::vector<RsaBatchResult> decryptKeyBatch(std::span<const ByteView> blocks, std::size_t keySize) const;

private:
    friend struct detail::RsaKeySetUp;  // sets up prepared_ from record_, in the library
    RsaPrivateKey() noexcept;
    R_RSA_PRIVATE_KEY record_;
    // The arithmetic's set-up of the key (both primes' and n's Montgomery
    // constants, the decoded fields) and the secret that keys implicit
    // rejection, made once when the key is made and used by every
    // operation; secret, wiped with the record. Plain bytes, so that copies
    // cannot fail.
    alignas(16) unsigned char prepared_[3136];
};

}  // namespace corvane::v1

#endif  // CORVANE_MODERN_RSA_HPP
