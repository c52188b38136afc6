// Triple DES in the modern layer (part of <Corvane/corvane.hpp>): one-shot
// calls, calls into the caller's memory, the streaming Des3Encryptor /
// Des3Decryptor, batches, new keys, and the passphrase format of
// `openssl enc -des-ede3-cbc -pbkdf2`. It does not declare the global
// operation names of <Corvane/QVDes3.h>.
#ifndef CORVANE_MODERN_DES3_HPP
#define CORVANE_MODERN_DES3_HPP

#include <Corvane/CorvaneCxx20.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

#include <Corvane/CorvaneExport.h>
#include <Corvane/modern/bytes.hpp>

namespace corvane::v1 {

// Triple DES (three-key DES-EDE3, CBC, PKCS #7 padding), over QVDes3. Kept
// for interoperability; unfit for new designs.
//
// The key is 1 to 24 bytes, a shorter one extended with zero bytes; an
// empty key or one longer than 24 bytes fails with ErrorCode::invalidInput
// (the legacy class would use all zeros, or cut the key silently). The IV
// is its first 8 bytes, likewise extended. Without an IV the key's first 8
// bytes serve, as the legacy class does with a nil IV (equal messages then
// encrypt equally: give an IV where the peer allows). Inputs of 2^31 - 8
// bytes or more fail with ErrorCode::invalidInput. Failures are reported
// by the exception or error_code alone: nothing is written to the NSLog
// sink, as the class does for its legacy callers.

// The data length rounded up to the next multiple of 8 strictly above it.
CORVANE_EXPORT std::vector<std::uint8_t> des3Encrypt(ByteView data, ByteView key, ByteView iv);
CORVANE_EXPORT std::vector<std::uint8_t> des3Encrypt(ByteView data, ByteView key);

// ErrorCode::decryptionRefused for input that is not whole blocks or does
// not end in valid padding (a wrong key, most often).
CORVANE_EXPORT std::vector<std::uint8_t> des3Decrypt(ByteView data, ByteView key, ByteView iv);
CORVANE_EXPORT std::vector<std::uint8_t> des3Decrypt(ByteView data, ByteView key);
CORVANE_EXPORT std::vector<std::uint8_t> des3Decrypt(ByteView data, ByteView key, ByteView iv,
                                                     std::error_code& error) noexcept;
CORVANE_EXPORT std::vector<std::uint8_t> des3Decrypt(ByteView data, ByteView key, ByteView iv,
                                                     ErrorInfo& error) noexcept;
CORVANE_EXPORT std::vector<std::uint8_t> des3Decrypt(ByteView data, ByteView key,
                                                     std::error_code& error) noexcept;
CORVANE_EXPORT std::vector<std::uint8_t> des3Decrypt(ByteView data, ByteView key,
                                                     ErrorInfo& error) noexcept;

// Into the caller's memory, for large inputs, through the cipher directly:
// the same results as above, without the length limit and without log
// lines. out must hold des3EncryptedSize(data.size()) or
// des3DecryptedCapacity(data.size()) bytes (otherwise invalidInput, and
// nothing is written) and must not overlap data; the count written is
// returned. A refused decryption wipes out. These forms always take an IV
// (forms without one could not be told from the allocating forms above
// when out is a vector); the key given as the IV is the IV that the forms
// without one use.
CORVANE_EXPORT std::size_t des3EncryptedSize(std::size_t dataSize) noexcept;
CORVANE_EXPORT std::size_t des3DecryptedCapacity(std::size_t dataSize) noexcept;
CORVANE_EXPORT std::size_t des3Encrypt(ByteView data, ByteView key, ByteView iv, std::span<std::uint8_t> out);
CORVANE_EXPORT std::size_t des3Decrypt(ByteView data, ByteView key, ByteView iv, std::span<std::uint8_t> out);
CORVANE_EXPORT std::size_t des3Decrypt(ByteView data, ByteView key, ByteView iv, std::span<std::uint8_t> out,
                                       std::error_code& error) noexcept;
CORVANE_EXPORT std::size_t des3Decrypt(ByteView data, ByteView key, ByteView iv, std::span<std::uint8_t> out,
                                       ErrorInfo& error) noexcept;

// Triple DES of a message given in pieces of any size, with the key and IV
// rules above: the concatenated output of update() and finish() is
// des3Encrypt / des3Decrypt of the whole message, however it was cut, with
// no length limit and memory bounded by the piece given. update() returns
// the blocks completed so far; the decryptor always holds back the last
// block until finish() (or more data) shows it is not the padding block.
// finish() of the decryptor checks the padding in constant time and fails
// with decryptionRefused, as des3Decrypt does, for ciphertext that is
// empty, not whole blocks, or badly padded; output returned before then is
// the decryption of the blocks before the last.
//
// The key is set up once, when the object is made (the encryptor's cipher
// context, the decryptor's round keys, built the first time a piece needs
// them), and serves every piece and every message after: pieces cost what
// their blocks cost. Reuse: finish() ends the message (whether it returns or
// throws) and leaves the object ready for the next with the same key and
// IV; reset() drops a message under way. The key, its set-up, the chaining
// value and held bytes are wiped when the object is destroyed or reset, or
// when another object is moved into it. Not copyable (a copy would
// duplicate the key); movable: the state moves without a copy, and a
// moved-from object holds no key, so its update() and finish() fail with
// invalidInput until another object is moved into it.
namespace detail {
struct Des3EncryptStream;
struct Des3DecryptStream;
}  // namespace detail

class CORVANE_EXPORT Des3Encryptor {
public:
    Des3Encryptor(ByteView key, ByteView iv);
    explicit Des3Encryptor(ByteView key);  // the key's first 8 bytes as IV
    Des3Encryptor(const Des3Encryptor&) = delete;
    Des3Encryptor& operator=(const Des3Encryptor&) = delete;
    Des3Encryptor(Des3Encryptor&& other) noexcept;
    Des3Encryptor& operator=(Des3Encryptor&& other) noexcept;
    ~Des3Encryptor();

    std::vector<std::uint8_t> update(ByteView data);
    std::vector<std::uint8_t> finish();  // the last block, with the padding
    // The same into out, which must hold updateCapacity(data.size()) or
    // finishCapacity() bytes (invalidInput otherwise, nothing changed).
    std::size_t update(ByteView data, std::span<std::uint8_t> out);
    std::size_t finish(std::span<std::uint8_t> out);
    std::size_t updateCapacity(std::size_t dataSize) const noexcept;
    static constexpr std::size_t finishCapacity() noexcept { return 8; }
    void reset() noexcept;

private:
    detail::Des3EncryptStream* state_;
};

class CORVANE_EXPORT Des3Decryptor {
public:
    Des3Decryptor(ByteView key, ByteView iv);
    explicit Des3Decryptor(ByteView key);  // the key's first 8 bytes as IV
    Des3Decryptor(const Des3Decryptor&) = delete;
    Des3Decryptor& operator=(const Des3Decryptor&) = delete;
    Des3Decryptor(Des3Decryptor&& other) noexcept;
    Des3Decryptor& operator=(Des3Decryptor&& other) noexcept;
    ~Des3Decryptor();

    std::vector<std::uint8_t> update(ByteView data);
    std::vector<std::uint8_t> finish();
    std::size_t update(ByteView data, std::span<std::uint8_t> out);
    std::size_t finish(std::span<std::uint8_t> out);
    // The same, reporting a refusal in error instead of throwing (0 bytes).
    std::size_t finish(std::span<std::uint8_t> out, std::error_code& error) noexcept;
    std::size_t finish(std::span<std::uint8_t> out, ErrorInfo& error) noexcept;
    std::size_t updateCapacity(std::size_t dataSize) const noexcept;
    static constexpr std::size_t finishCapacity() noexcept { return 8; }
    void reset() noexcept;

private:
    detail::Des3DecryptStream* state_;
};

// One message of a triple-DES batch: its data, its key (1 to 24 bytes, as
// des3Encrypt takes it) and its IV, exactly 8 bytes; or, with ivFromKey, no
// IV but the key's first 8 bytes (the legacy rule of the calls without an
// IV; iv is then not read).
struct Des3BatchItem {
    ByteView data;
    ByteView key;
    ByteView iv;
    bool ivFromKey = false;
};

// Many messages at once, each under its own key and IV, one result per item
// in order: the item's bytes (encryption: padded, as des3Encrypt; decryption:
// the padding checked and removed, as des3Decrypt), or the error that item
// alone met (invalidInput for an empty key, a key longer than 24 bytes or an
// IV that is not 8 bytes; decryptionRefused for data that is not whole
// blocks, empty, or not validly padded; outOfMemory when its result could
// not be allocated). The messages run side by side in the lanes of the
// vector kernel (the CBC chains of encryption advance together), so many
// short messages cost little more than their blocks. Both are constant-time
// in the keys and the data: no branch and no memory index depends on them,
// and the padding check reads every byte under masks; the order and timing
// depend on the items' lengths, and each item's outcome is its own (wrong
// padding is as visible as it is from des3Decrypt). Every buffer that held
// a key, a round key or plaintext is wiped.
CORVANE_EXPORT std::vector<BatchResult> des3EncryptBatch(std::span<const Des3BatchItem> items);
CORVANE_EXPORT std::vector<BatchResult> des3DecryptBatch(std::span<const Des3BatchItem> items);

// The two forms of a new triple-DES key.
enum class Des3KeyForm : unsigned char {
    // 24 bytes from the operating system's entropy source: full strength.
    bytes,
    // 24 upper-case hexadecimal characters (0-9, A-F) from the operating
    // system's entropy source, as QVDes3::createRandomDes3Key makes it, for
    // peers that handle the key as text. Weaker: the text carries 96 bits,
    // and triple DES ignores the lowest bit of every key byte, which merges
    // pairs of these characters ("0" and "1", "2" and "3", "B" and "C",
    // ...): 75 bits of key. (The legacy platform's own random key is weaker
    // still: a window of the MD5 digest of the current date text, which
    // anyone who knows roughly when the message was made can guess; this
    // library's class draws from the operating system instead.)
    hexText,
};

// A new 24-byte key of the form asked for; std::errc::io_error when the
// entropy source fails. Without a form, the legacy text key
// (Des3KeyForm::hexText), as QVDes3::createRandomDes3Key makes it.
CORVANE_EXPORT std::vector<std::uint8_t> des3RandomKey();
CORVANE_EXPORT std::vector<std::uint8_t> des3RandomKey(Des3KeyForm form);

// Triple DES under a passphrase, in the format of
// `openssl enc -des-ede3-cbc -pbkdf2 [-iter N] [-md NAME]`: the 8 bytes
// "Salted__", an 8-byte random salt, then the ciphertext under a key and IV
// derived from the passphrase and the salt by PBKDF2 (HMAC over the digest,
// sha256 unless named; 10000 iterations unless given): one derivation of 32
// bytes, the first 24 the key, the last 8 the IV. What one side writes the
// other reads, byte for byte.
//
// Bad parameters fail with ErrorCode::invalidInput: no iterations or more
// than 2^31 - 1, a digest name libcrypto does not know (it knows at least
// md5, sha1, sha256, sha512), a passphrase of 2^31 bytes or more. An empty
// passphrase is allowed, as openssl allows it.

inline constexpr std::string_view kDes3SaltedMagic = "Salted__";
inline constexpr std::size_t kDes3SaltSize = 8;
// The magic and the salt, ahead of the ciphertext.
inline constexpr std::size_t kDes3SaltedHeaderSize = 16;
inline constexpr unsigned kDes3DefaultIterations = 10000;
inline constexpr std::string_view kDes3DefaultDigest = "sha256";

using Des3Salt = std::array<std::uint8_t, kDes3SaltSize>;

// The key and IV derived from a passphrase; wiped when destroyed, moved from
// or assigned over (not copyable: one owner per secret).
class CORVANE_EXPORT Des3PassphraseKey {
public:
    Des3PassphraseKey() noexcept;
    Des3PassphraseKey(Des3PassphraseKey&& other) noexcept;
    Des3PassphraseKey& operator=(Des3PassphraseKey&& other) noexcept;
    Des3PassphraseKey(const Des3PassphraseKey&) = delete;
    Des3PassphraseKey& operator=(const Des3PassphraseKey&) = delete;
    ~Des3PassphraseKey();

    std::span<const std::uint8_t, 24> key() const noexcept {
        return std::span<const std::uint8_t, 24>(bytes_.data(), 24);
    }
    std::span<const std::uint8_t, 8> iv() const noexcept {
        return std::span<const std::uint8_t, 8>(bytes_.data() + 24, 8);
    }
    // All 32 derived bytes, key then IV, for the derivation to fill.
    std::span<std::uint8_t, 32> bytes() noexcept { return bytes_; }

private:
    std::array<std::uint8_t, 32> bytes_;
};

CORVANE_EXPORT Des3PassphraseKey des3KeyFromPassphrase(std::string_view passphrase,
                                                       std::span<const std::uint8_t, 8> salt,
                                                       unsigned iterations = kDes3DefaultIterations,
                                                       std::string_view digest = kDes3DefaultDigest);

// "Salted__" followed by the salt.
CORVANE_EXPORT std::array<std::uint8_t, kDes3SaltedHeaderSize> des3SaltedHeader(
    std::span<const std::uint8_t, 8> salt) noexcept;
// The salt of data that starts with a whole header; false (salt untouched)
// when it is shorter or does not start with "Salted__".
CORVANE_EXPORT bool des3SaltFromHeader(ByteView data, Des3Salt& salt) noexcept;
// A new salt from the operating system's entropy source; std::errc::io_error
// when that fails.
CORVANE_EXPORT Des3Salt des3RandomSalt();

// Header and ciphertext, under a new random salt or the one given (the
// same salt and passphrase always give the same output: use it for tests
// and known answers only).
CORVANE_EXPORT std::vector<std::uint8_t> des3EncryptWithPassphrase(
    ByteView data, std::string_view passphrase, unsigned iterations = kDes3DefaultIterations,
    std::string_view digest = kDes3DefaultDigest);
CORVANE_EXPORT std::vector<std::uint8_t> des3EncryptWithPassphrase(ByteView data, std::string_view passphrase,
                                                                   std::span<const std::uint8_t, 8> salt,
                                                                   unsigned iterations,
                                                                   std::string_view digest);

// The plaintext of header and ciphertext. ErrorCode::invalidInput for data
// that does not start with the header (or bad parameters),
// decryptionRefused when the padding does not check out: a wrong
// passphrase, iteration count or digest, or damaged data. (As with openssl,
// about one wrong passphrase in 256 gives valid-looking padding and
// garbage instead.)
CORVANE_EXPORT std::vector<std::uint8_t> des3DecryptWithPassphrase(
    ByteView data, std::string_view passphrase, unsigned iterations = kDes3DefaultIterations,
    std::string_view digest = kDes3DefaultDigest);
CORVANE_EXPORT std::vector<std::uint8_t> des3DecryptWithPassphrase(ByteView data, std::string_view passphrase,
                                                                   unsigned iterations,
                                                                   std::string_view digest,
                                                                   std::error_code& error) noexcept;
CORVANE_EXPORT std::vector<std::uint8_t> des3DecryptWithPassphrase(ByteView data, std::string_view passphrase,
                                                                   unsigned iterations,
                                                                   std::string_view digest,
                                                                   ErrorInfo& error) noexcept;

}  // namespace corvane::v1

#endif  // CORVANE_MODERN_DES3_HPP
