// Corvane's modern C++ layer (namespace corvane::v1): the same MD5, Base64,
// RSA PKCS #1 v1.5, triple-DES and random pool as the legacy API, with
// spans and string views in, owning values out, exceptions for failures,
// and no autorelease pool to keep. Every operation is a call of the legacy
// functions and classes underneath: results are byte for byte those of the
// legacy API on the same inputs.
//
//   #include <Corvane/corvane.hpp>
//   namespace cv = corvane::v1;
//   auto digest = cv::md5("abc");                                   // std::array<uint8_t, 16>
//   std::string text = cv::base64Encode(bytes, cv::Base64Alphabet::webSafe, cv::Base64Padding::unpadded);
//   cv::RsaPublicKey peer = cv::RsaPublicKey::fromFile("peer.pem");
//   std::vector<std::uint8_t> block = peer.encrypt("PIN 1234");
//
// Inputs: ByteView, which any contiguous byte range converts to
// (std::span<const std::uint8_t>, std::span<const std::byte>,
// std::vector<std::uint8_t>, std::array, std::string, std::string_view, a
// NUL-terminated const char*, without its NUL). A view is read during the
// call only.
//
// Failures throw corvane::v1::Error, a std::system_error whose code() is a
// corvane::ErrorCode (<Corvane/errors.h>), or a std::errc where the system
// failed (a key file that cannot be read, the entropy source). Where a failure is an expected
// outcome (decryption, signature recovery, decoding) an overload taking a
// std::error_code& reports it there instead and returns an empty result;
// those overloads never throw.
//
// Secrets: key objects and the random pool wipe their records when they are
// destroyed, moved from or assigned over; every intermediate buffer that held
// key or message material is wiped. Returned plaintexts and PEM texts of
// private keys belong to the caller.
//
// Names: this header declares nothing at global scope beyond the C records it
// needs from <Corvane/rsa.h> and <Corvane/r_random.h>. In particular it does
// not include <Corvane/md5.h>, whose MD5_CTX clashes with OpenSSL's
// <openssl/md5.h>, nor the global triple-DES operation names of
// <Corvane/QVDes3.h>, so it may share a translation unit with either.
//
// Threads: no shared state; a key object may be used by several threads at
// once (its operations only read it), an Md5 or RandomPool by one at a time.
#ifndef CORVANE_CORVANE_HPP
#define CORVANE_CORVANE_HPP

#include "CorvaneCxx20.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <ranges>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

#include "CorvaneExport.h"
#include "errors.h"
#include "keys.h"
#include "r_random.h"
#include "rsa.h"

namespace corvane::v1 {

// ---------------------------------------------------------------------------
// Inputs and errors.

namespace detail {
template <typename T>
inline constexpr bool isByteLike =
    std::is_same_v<T, std::uint8_t> || std::is_same_v<T, unsigned char> || std::is_same_v<T, std::byte> ||
    std::is_same_v<T, char> || std::is_same_v<T, signed char> || std::is_same_v<T, char8_t>;
template <typename T>
inline constexpr bool isCharArray = std::is_array_v<T> &&
                                    (std::is_same_v<std::remove_cv_t<std::remove_extent_t<T>>, char> ||
                                     std::is_same_v<std::remove_cv_t<std::remove_extent_t<T>>, char8_t>);
}  // namespace detail

// A read-only view of bytes, for parameters only (like std::string_view).
class ByteView {
public:
    constexpr ByteView() noexcept = default;
    constexpr ByteView(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}
    ByteView(std::span<const std::uint8_t> bytes) noexcept : ByteView(bytes.data(), bytes.size()) {}
    ByteView(std::span<const std::byte> bytes) noexcept
        : ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) {}
    ByteView(std::string_view text) noexcept
        : ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()) {}
    ByteView(const std::string& text) noexcept : ByteView(std::string_view(text)) {}
    // A NUL-terminated text, without its NUL; null is the empty view.
    ByteView(const char* text) noexcept
        : ByteView(reinterpret_cast<const std::uint8_t*>(text), text != nullptr ? std::strlen(text) : 0) {}
    // Any other contiguous range of bytes. Character arrays (string
    // literals) go through const char* above, so their NUL is not counted.
    template <typename R>
    requires std::ranges::contiguous_range<const R&> && std::ranges::sized_range<const R&> &&
        detail::isByteLike<std::remove_cv_t<std::ranges::range_value_t<const R&>>> &&
        (!detail::isCharArray<std::remove_cvref_t<R>>)ByteView(const R& range) noexcept
        : ByteView(reinterpret_cast<const std::uint8_t*>(std::ranges::data(range)),
                   std::ranges::size(range)) {}

    const std::uint8_t* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::span<const std::uint8_t> span() const noexcept { return {data_, size_}; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Every failure of this layer. code() is a corvane::ErrorCode.
class CORVANE_EXPORT Error : public std::system_error {
public:
    explicit Error(std::error_code code);
    explicit Error(ErrorCode code);
    // The same codes with a detail that says where or why (a file's path,
    // both lengths, an offset): what() is "detail: meaning of the code".
    Error(std::error_code code, const std::string& detail);
    Error(ErrorCode code, const std::string& detail);
    ~Error() override;
};

// ---------------------------------------------------------------------------
// MD5 (RFC 1321), over QvMD5Init / QvMD5Update / QvMD5Final. Kept for
// interoperability; broken for collision resistance.

class CORVANE_EXPORT Md5 {
public:
    using Digest = std::array<std::uint8_t, 16>;

    Md5() noexcept;
    Md5(const Md5& other) noexcept;
    Md5& operator=(const Md5& other) noexcept;
    ~Md5();  // wipes the context

    // Hashes the bytes; any number of calls, of any lengths.
    Md5& update(ByteView bytes) noexcept;
    // The digest of everything hashed since construction or the last
    // finish/reset; the object then starts over with an empty message.
    Digest finish() noexcept;
    // Drops what was hashed so far.
    void reset() noexcept;

private:
    // The legacy context record (88 bytes, 32-bit aligned), kept opaque so
    // that this header needs no MD5_CTX.
    alignas(std::uint32_t) unsigned char context_[88];
};

// The digest of the bytes in one call.
CORVANE_EXPORT Md5::Digest md5(ByteView bytes) noexcept;

// ---------------------------------------------------------------------------
// Base64 (RFC 4648), over the QVGTMBase64 coder.

enum class Base64Alphabet : unsigned char {
    standard,  // "+" and "/"
    webSafe,   // "-" and "_", the URL- and filename-safe alphabet
};
enum class Base64Padding : unsigned char {
    padded,    // encoding writes "=" to a whole group; decoding demands whole groups or correct padding
    unpadded,  // encoding writes no "="; decoding takes text with or without padding
};

// The encoded text, without line breaks; empty for no bytes.
CORVANE_EXPORT std::string base64Encode(ByteView bytes, Base64Alphabet alphabet = Base64Alphabet::standard,
                                        Base64Padding padding = Base64Padding::padded);

// The decoded bytes; empty for empty text. Whitespace anywhere is skipped
// and a NUL ends the text, as QVGTMBase64 decodes. Text that breaks the
// rules, or holds nothing but whitespace, fails with ErrorCode::invalidInput.
CORVANE_EXPORT std::vector<std::uint8_t> base64Decode(ByteView text,
                                                      Base64Alphabet alphabet = Base64Alphabet::standard,
                                                      Base64Padding padding = Base64Padding::padded);
CORVANE_EXPORT std::vector<std::uint8_t> base64Decode(ByteView text, Base64Alphabet alphabet,
                                                      Base64Padding padding, std::error_code& error) noexcept;

// ---------------------------------------------------------------------------
// Hexadecimal text: two digits a byte, high digit first.

enum class HexCase : unsigned char {
    lower,  // "0123456789abcdef"
    upper,  // "0123456789ABCDEF"
};
enum class HexWhitespace : unsigned char {
    reject,  // any character other than a digit is an error
    skip,    // space, tab, line feed, carriage return, vertical tab and form
             // feed are skipped wherever they stand, even between the two
             // digits of a byte
};

// The text of the bytes in the given case; empty for no bytes.
CORVANE_EXPORT std::string hexEncode(ByteView bytes, HexCase letterCase = HexCase::lower);

// The bytes of text whose digits may be of either case. Fails with
// ErrorCode::invalidInput for a character that is not a digit (nor skipped
// whitespace), what() naming its offset in the text, or for an odd count
// of digits. Empty text (or nothing but skipped whitespace) gives no bytes.
// On failure nothing decoded so far is kept: the partial output is wiped.
CORVANE_EXPORT std::vector<std::uint8_t> hexDecode(std::string_view text,
                                                   HexWhitespace whitespace = HexWhitespace::reject);
CORVANE_EXPORT std::vector<std::uint8_t> hexDecode(std::string_view text, HexWhitespace whitespace,
                                                   std::error_code& error) noexcept;

// ---------------------------------------------------------------------------
// Random pool, over the QV_R_ functions.

class CORVANE_EXPORT RandomPool {
public:
    // A pool seeded from the clock and the operating system's entropy
    // source (QV_R_RandomCreate), ready for use.
    RandomPool() noexcept;
    // A pool seeded with exactly these bytes (QV_R_RandomInit, then
    // QV_R_RandomUpdate): the same seed gives the same output. It produces
    // nothing until 256 seed bytes in all have been added.
    static RandomPool fromSeed(ByteView seed) noexcept;

    RandomPool(const RandomPool&) = delete;  // a copy would repeat the output
    RandomPool& operator=(const RandomPool&) = delete;
    RandomPool(RandomPool&& other) noexcept;             // other becomes unseeded
    RandomPool& operator=(RandomPool&& other) noexcept;  // likewise
    ~RandomPool();                                       // QV_R_RandomFinal

    // Fills the bytes; ErrorCode::notSeeded while seed bytes are wanted.
    void generate(std::span<std::uint8_t> out);
    std::vector<std::uint8_t> generate(std::size_t count);
    // Mixes seed bytes into the state (QV_R_RandomUpdate).
    void addSeed(ByteView seed) noexcept;
    // Stirs clock bytes into the state (QV_R_RandomMix).
    void stir() noexcept;
    // Seed bytes still wanted before output is allowed.
    std::uint32_t bytesNeeded() const noexcept { return record_.bytesNeeded; }

    // The legacy record, for the C functions.
    R_RANDOM_STRUCT& record() noexcept { return record_; }

private:
    struct Unseeded {};
    explicit RandomPool(Unseeded) noexcept;
    R_RANDOM_STRUCT record_;
};

// ---------------------------------------------------------------------------
// RSA PKCS #1 v1.5 (moduli of 96 to 1024 bits), over the QV_RSA functions.
// Kept for interoperability: not recommended for new designs.
//
// Keys come from the readers of <Corvane/keys.h> (which name the accepted
// forms) and throw Error with their ErrorCode, what() naming the file and
// what exactly is wrong where the reader says. Each is a value: copies are
// independent, and every copy wipes its record when it goes.

class CORVANE_EXPORT RsaPublicKey {
public:
    static RsaPublicKey fromEncoded(ByteView pemOrDer, const KeyPassphrase& passphrase = {});
    static RsaPublicKey fromFile(const std::string& path, const KeyPassphrase& passphrase = {});
    // The texts QVSimpleRSA::setPublicKey takes (see rsaPublicKeyFromHex).
    static RsaPublicKey fromHex(std::string_view modulus, std::string_view exponent);
    // A copy of a record; its bits must lie in 1..1024 (keyTooLarge above,
    // keyInvalid for 0).
    static RsaPublicKey fromRecord(const R_RSA_PUBLIC_KEY& record);

    RsaPublicKey(const RsaPublicKey& other) noexcept = default;
    RsaPublicKey& operator=(const RsaPublicKey& other) noexcept = default;
    RsaPublicKey(RsaPublicKey&& other) noexcept;             // other is left all zero
    RsaPublicKey& operator=(RsaPublicKey&& other) noexcept;  // likewise
    ~RsaPublicKey();                                         // wipes the record

    const R_RSA_PUBLIC_KEY& record() const noexcept { return record_; }
    unsigned bits() const noexcept { return record_.bits; }
    // The length of every block: (bits + 7) / 8 bytes.
    std::size_t blockSize() const noexcept { return (record_.bits + 7u) / 8u; }
    // The longest message: blockSize() - 11 bytes.
    std::size_t maxMessageSize() const noexcept { return blockSize() > 11 ? blockSize() - 11 : 0; }

    RsaHexKey toHex() const;
    std::string toPem(RsaKeyFormat format = RsaKeyFormat::standard) const;

    // One type-2 block (random non-zero filler). The first form seeds a fresh
    // pool for the call, as QVSimpleRSA does; the second draws from the
    // caller's. ErrorCode::badLength for a message longer than
    // maxMessageSize(), badData for a key whose modulus is below the block.
    std::vector<std::uint8_t> encrypt(ByteView message) const;
    std::vector<std::uint8_t> encrypt(ByteView message, RandomPool& pool) const;

    // The message of a type-1 block that RsaPrivateKey::sign made (the
    // "verify and recover" half of a raw PKCS #1 v1.5 signature).
    // ErrorCode::badData for a block that is not one, badLength for an input
    // longer than blockSize().
    std::vector<std::uint8_t> recover(ByteView signature) const;
    std::vector<std::uint8_t> recover(ByteView signature, std::error_code& error) const noexcept;

private:
    friend class RsaPrivateKey;
    RsaPublicKey() noexcept;
    R_RSA_PUBLIC_KEY record_;
};

class CORVANE_EXPORT RsaPrivateKey {
public:
    static RsaPrivateKey fromEncoded(ByteView pemOrDer, const KeyPassphrase& passphrase = {});
    static RsaPrivateKey fromFile(const std::string& path, const KeyPassphrase& passphrase = {});
    // A copy of a CRT record; its bits must lie in 1..1024.
    static RsaPrivateKey fromRecord(const R_RSA_PRIVATE_KEY& record);

    RsaPrivateKey(const RsaPrivateKey& other) noexcept = default;
    RsaPrivateKey& operator=(const RsaPrivateKey& other) noexcept = default;
    RsaPrivateKey(RsaPrivateKey&& other) noexcept;             // other is left all zero
    RsaPrivateKey& operator=(RsaPrivateKey&& other) noexcept;  // likewise
    ~RsaPrivateKey();                                          // wipes the record

    const R_RSA_PRIVATE_KEY& record() const noexcept { return record_; }
    unsigned bits() const noexcept { return record_.bits; }
    std::size_t blockSize() const noexcept { return (record_.bits + 7u) / 8u; }
    std::size_t maxMessageSize() const noexcept { return blockSize() > 11 ? blockSize() - 11 : 0; }
    RsaPublicKey publicKey() const noexcept;

    // PKCS #8 or PKCS #1 PEM, encrypted with AES-256-CBC under a non-empty
    // passphrase (see rsaPrivateKeyToPem). A secret: wipe it when done.
    std::string toPem(RsaKeyFormat format = RsaKeyFormat::standard, std::string_view passphrase = {}) const;

    // The message of a type-2 block that RsaPublicKey::encrypt made.
    // ErrorCode::badData for a block that is not one (wrong key, damaged
    // block), badLength for an input longer than blockSize().
    std::vector<std::uint8_t> decrypt(ByteView block) const;
    std::vector<std::uint8_t> decrypt(ByteView block, std::error_code& error) const noexcept;

    // One type-1 block (0xFF filler) over the message, which is signed as
    // given: to make a PKCS #1 v1.5 signature, pass the DigestInfo
    // encoding of the digest. ErrorCode::badLength for a message longer
    // than maxMessageSize().
    std::vector<std::uint8_t> sign(ByteView message) const;

private:
    RsaPrivateKey() noexcept;
    R_RSA_PRIVATE_KEY record_;
};

// ---------------------------------------------------------------------------
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
CORVANE_EXPORT std::vector<std::uint8_t> des3Decrypt(ByteView data, ByteView key,
                                                     std::error_code& error) noexcept;

// A new 24-byte key of upper-case hexadecimal characters (96 bits of
// entropy), as QVDes3::createRandomDes3Key makes it; std::errc::io_error
// when the entropy source fails.
CORVANE_EXPORT std::vector<std::uint8_t> des3RandomKey();

}  // namespace corvane::v1

#endif  // CORVANE_CORVANE_HPP
