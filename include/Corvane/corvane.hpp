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
// failed (a key file that cannot be read, the entropy source). Where a
// failure is an expected outcome (reading a key, decryption, signature
// recovery, decoding, opening an envelope, encrypting a message of the
// caller's length) an overload taking a cv::ErrorInfo& reports it there
// instead, with the code and the whole message the exception would carry,
// and returns an empty result (an empty std::optional for keys); those
// overloads never throw. (The std::error_code& overloads of the first
// release remain, for the code alone.)
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
// Threads: the layer keeps no shared state, and every function may run on
// several threads at once. A key object (RsaPublicKey, RsaPrivateKey) may
// be used by several threads at once: its operations only read it. Objects
// that change as they work (Md5, RandomPool, the Base64 and triple-DES
// streams) are for one thread at a time; give each thread its own.
#ifndef CORVANE_CORVANE_HPP
#define CORVANE_CORVANE_HPP

#include "CorvaneCxx20.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>
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

// A failure reported without an exception: the code, and the message that
// Error::what() would give ("detail: meaning of the code", the detail saying
// where or why: a file's path, both lengths, an offset). Empty (false) when
// the call succeeded.
struct ErrorInfo {
    std::error_code code;
    std::string message;

    explicit operator bool() const noexcept { return static_cast<bool>(code); }
    void clear() noexcept {
        code.clear();
        message.clear();
    }
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
    // The digest of everything hashed so far, leaving the object as it is
    // (more bytes may follow), as a hashlib object's digest() does.
    Digest digest() const noexcept;
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

// The decoded bytes; empty for empty text. Whitespace anywhere is skipped,
// as QVGTMBase64 decodes. Text that breaks the rules, holds nothing but
// whitespace, or holds a NUL byte fails with ErrorCode::invalidInput, the
// message naming the offset. (QVGTMBase64 ends the text at a NUL and
// decodes what came before; here the text's length is explicit, so a NUL is
// a fault, not an end.)
CORVANE_EXPORT std::vector<std::uint8_t> base64Decode(ByteView text,
                                                      Base64Alphabet alphabet = Base64Alphabet::standard,
                                                      Base64Padding padding = Base64Padding::padded);
CORVANE_EXPORT std::vector<std::uint8_t> base64Decode(ByteView text, Base64Alphabet alphabet,
                                                      Base64Padding padding, std::error_code& error) noexcept;
CORVANE_EXPORT std::vector<std::uint8_t> base64Decode(ByteView text, Base64Alphabet alphabet,
                                                      Base64Padding padding, ErrorInfo& error) noexcept;

// Into the caller's memory, for large inputs: the same results, written to
// out, which must hold base64EncodedSize(bytes.size(), padding) characters
// or base64DecodedCapacity(text.size()) bytes (otherwise invalidInput, and
// nothing is written); the count written is returned. No length limit. On a
// refused decoding out may hold partial output.
CORVANE_EXPORT std::size_t base64EncodedSize(std::size_t byteCount, Base64Padding padding) noexcept;
CORVANE_EXPORT std::size_t base64DecodedCapacity(std::size_t textLength) noexcept;
CORVANE_EXPORT std::size_t base64Encode(ByteView bytes, std::span<char> out, Base64Alphabet alphabet,
                                        Base64Padding padding);
CORVANE_EXPORT std::size_t base64Decode(ByteView text, std::span<std::uint8_t> out, Base64Alphabet alphabet,
                                        Base64Padding padding);
CORVANE_EXPORT std::size_t base64Decode(ByteView text, std::span<std::uint8_t> out, Base64Alphabet alphabet,
                                        Base64Padding padding, std::error_code& error) noexcept;
CORVANE_EXPORT std::size_t base64Decode(ByteView text, std::span<std::uint8_t> out, Base64Alphabet alphabet,
                                        Base64Padding padding, ErrorInfo& error) noexcept;

// Base64 of a message given in pieces of any size: the concatenated output
// of update() and finish() is base64Encode of the whole message (with line
// breaks, if asked), however the message was cut. Memory stays bounded by
// the piece given; there is no length limit.
//
// Reuse: finish() ends the message and leaves the object ready for the next
// one with the same settings; reset() drops a message under way. Bytes of a
// group not yet complete are wiped when dropped and on destruction.
class CORVANE_EXPORT Base64Encoder {
public:
    // lineWidth 0 writes no line breaks; otherwise a line feed follows every
    // lineWidth characters and the last line of non-empty text.
    explicit Base64Encoder(Base64Alphabet alphabet = Base64Alphabet::standard,
                           Base64Padding padding = Base64Padding::padded, std::size_t lineWidth = 0) noexcept;
    Base64Encoder(const Base64Encoder&) noexcept = default;
    Base64Encoder& operator=(const Base64Encoder&) noexcept = default;
    ~Base64Encoder();

    std::string update(ByteView bytes);  // the text of the whole groups completed
    std::string finish();                // the rest: the last group, its padding and line end
    // The same into out, which must hold updateCapacity(bytes.size()) or
    // finishCapacity() characters (invalidInput otherwise, nothing changed).
    std::size_t update(ByteView bytes, std::span<char> out);
    std::size_t finish(std::span<char> out);
    std::size_t updateCapacity(std::size_t byteCount) const noexcept;
    std::size_t finishCapacity() const noexcept;
    void reset() noexcept;

private:
    std::size_t wrapInto(const char* text, std::size_t length, char* out) noexcept;

    bool webSafe_;
    bool padded_;
    std::size_t lineWidth_;
    std::size_t column_ = 0;  // characters on the current line
    bool wroteAny_ = false;
    std::uint8_t carry_[3] = {};  // bytes of an incomplete group
    std::size_t carried_ = 0;
};

// Base64 text given in pieces of any size: the concatenated output of
// update() and finish() is base64Decode of the whole text, and the whole
// text fails exactly where base64Decode fails on it (whitespace skipped
// anywhere; a NUL byte, or text of nothing but whitespace, refused with
// invalidInput). A piece that already settles the refusal (a byte outside
// the alphabet or a NUL, more after the padding) throws from update(); a
// refusal of the text's end throws from finish(). Output returned before a
// refusal is whole groups of the text's beginning.
//
// Reuse: after a refused update(), update() and finish() throw again until
// the object is reset; finish() always ends the message (whether it
// returns or throws) and leaves the object ready for the next; reset()
// drops a message under way. Held characters are wiped when dropped.
class CORVANE_EXPORT Base64Decoder {
public:
    explicit Base64Decoder(Base64Alphabet alphabet = Base64Alphabet::standard,
                           Base64Padding padding = Base64Padding::padded) noexcept;
    Base64Decoder(const Base64Decoder&) noexcept = default;
    Base64Decoder& operator=(const Base64Decoder&) noexcept = default;
    ~Base64Decoder();

    std::vector<std::uint8_t> update(ByteView text);
    std::vector<std::uint8_t> finish();
    // The same into out, which must hold updateCapacity(text.size()) or
    // finishCapacity() bytes (invalidInput otherwise, nothing changed).
    std::size_t update(ByteView text, std::span<std::uint8_t> out);
    std::size_t finish(std::span<std::uint8_t> out);
    // The same, reporting a refusal in error instead of throwing; update()
    // then returns the bytes it wrote before the refusal, finish() 0.
    std::size_t update(ByteView text, std::span<std::uint8_t> out, std::error_code& error) noexcept;
    std::size_t update(ByteView text, std::span<std::uint8_t> out, ErrorInfo& error) noexcept;
    std::size_t finish(std::span<std::uint8_t> out, std::error_code& error) noexcept;
    std::size_t finish(std::span<std::uint8_t> out, ErrorInfo& error) noexcept;
    std::size_t updateCapacity(std::size_t textLength) const noexcept;
    static constexpr std::size_t finishCapacity() noexcept { return 3; }
    // Whether the text given since the start holds nothing but whitespace
    // (or nothing at all); such text is refused at finish() when non-empty.
    bool blank() const noexcept;
    void reset() noexcept;

private:
    std::size_t decodeClean(ByteView& text, std::uint8_t* out);
    std::size_t decodeInPlace(ByteView& text, std::uint8_t* out);
    std::size_t gather(ByteView text, std::uint8_t* out);
    void afterPad(ByteView text);
    std::size_t decodeHeldGroup(std::uint8_t* out);
    bool decodeGroups(const std::uint8_t* text, std::size_t length, std::size_t bytes, std::uint8_t* out) noexcept;
    std::size_t updateChecked(ByteView text, std::uint8_t* out);

    bool webSafe_;
    bool requirePadding_;
    std::string refusalDetail(std::size_t room, std::size_t need) const noexcept;
    std::size_t decodeRest(ByteView text, std::uint8_t* out);

    static constexpr std::uint64_t kNoNul = ~std::uint64_t{0};
    bool failed_ = false;    // a refused update(): the message is lost
    bool padSeen_ = false;
    bool anyInput_ = false;  // any byte given
    std::size_t afterPad_ = 0;   // bytes other than whitespace after the first pad
    std::uint64_t decoded_ = 0;  // bytes returned so far
    std::uint64_t given_ = 0;    // text bytes given so far
    std::uint64_t nulAt_ = kNoNul;  // the offset of the NUL byte that refused the text
    // Alphabet characters not yet decoded (fewer than four between calls),
    // or after the first pad the characters of the unfinished group, the
    // pad and what may follow it (at most six in all).
    std::uint8_t held_[8] = {};
    std::size_t heldCount_ = 0;
};

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
CORVANE_EXPORT std::vector<std::uint8_t> hexDecode(std::string_view text, HexWhitespace whitespace,
                                                   ErrorInfo& error) noexcept;

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
// key (KeyReadOptions; 1,000,000 unless set). Each is a value: copies are
// independent, and every copy wipes its record when it goes.

// One item of a batch operation (RSA, triple DES, envelopes): its result,
// or the error that item alone met (one bad item never spoils the others;
// bytes is then empty).
struct BatchResult {
    std::vector<std::uint8_t> bytes;
    std::error_code error;
};
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
    RsaPublicKey() noexcept;
    void prepare() noexcept;  // sets up prepared_ from record_
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
    RsaPrivateKey() noexcept;
    void prepare();  // sets up prepared_ from record_
    R_RSA_PRIVATE_KEY record_;
    // The arithmetic's set-up of the key (both primes' and n's Montgomery
    // constants, the decoded fields) and the secret that keys implicit
    // rejection, made once when the key is made and used by every
    // operation; secret, wiped with the record. Plain bytes, so that copies
    // cannot fail.
    alignas(16) unsigned char prepared_[3136];
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
// Reuse: finish() ends the message (whether it returns or throws) and
// leaves the object ready for the next with the same key and IV; reset()
// drops a message under way. The key, the chaining value and held bytes are
// wiped when the object is destroyed or reset. Not copyable (a copy would
// duplicate the key).
namespace detail {
// The chaining state both classes keep: the key, the IV to start each
// message with, the current chaining value and the bytes of an unfinished
// block (for the decryptor, also the last whole block, held back).
struct Des3StreamState {
    std::uint8_t key[24];
    std::uint8_t iv[8];
    std::uint8_t chain[8];
    std::uint8_t held[16];
    std::size_t heldCount;
    std::uint64_t total;  // bytes given since the message began
};
}  // namespace detail

class CORVANE_EXPORT Des3Encryptor {
public:
    Des3Encryptor(ByteView key, ByteView iv);
    explicit Des3Encryptor(ByteView key);  // the key's first 8 bytes as IV
    Des3Encryptor(const Des3Encryptor&) = delete;
    Des3Encryptor& operator=(const Des3Encryptor&) = delete;
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
    detail::Des3StreamState state_;
};

class CORVANE_EXPORT Des3Decryptor {
public:
    Des3Decryptor(ByteView key, ByteView iv);
    explicit Des3Decryptor(ByteView key);  // the key's first 8 bytes as IV
    Des3Decryptor(const Des3Decryptor&) = delete;
    Des3Decryptor& operator=(const Des3Decryptor&) = delete;
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
    detail::Des3StreamState state_;
};

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

// ---------------------------------------------------------------------------
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

// ---------------------------------------------------------------------------
// Envelopes: the legacy scheme's message to a server. The client makes a
// random 24-byte triple-DES key, wraps it in a type-2 block under the
// server's RSA public key, and encrypts its payload under that key in CBC
// mode with the key's first 8 bytes as IV and PKCS #7 padding (the
// QVSimpleRSA and QVDes3 path with no IV).
//
// Opening refuses with ErrorCode::envelopeRefused and one message, whatever
// went wrong: a wrapped key of the wrong length or value, one whose block is
// malformed, a payload that does not decrypt. The wrapped key goes through
// RsaPrivateKey::decryptKey, so a malformed block gives a substitute key
// instead of an error, and the payload then fails to decrypt under it like
// a payload under a wrong key: the time of a refusal depends on the
// payload's length, which the sender knows, and not on the step that
// failed. (Refusals for the lengths of the two parts, or for a wrapped key
// whose value is not below the modulus, come at once: anyone can see those.)
//
// The format has no integrity check. About one payload in 256 under a wrong
// or substitute key still ends in valid padding and opens as garbage; and a
// service that tells its clients why a request failed, or that answers a
// request whose payload opened differently from one that did not, gives its
// senders a padding oracle on the payload itself (CBC padding oracle). Answer
// every failure the same way, check the plaintext's own structure, and use an
// authenticated format where the peers allow.

struct Envelope {
    std::vector<std::uint8_t> wrappedKey;  // the RSA block, blockSize() bytes
    std::vector<std::uint8_t> payload;     // the triple-DES ciphertext
};

struct EnvelopeView {
    ByteView wrappedKey;
    ByteView payload;
};


// The plaintext of the envelope. ErrorCode::envelopeRefused for every
// failure; outOfMemory where an allocation fails. The plaintext is the
// caller's; every intermediate buffer (the unwrapped key, the decrypted
// blocks) is wiped.
CORVANE_EXPORT std::vector<std::uint8_t> openEnvelope(const RsaPrivateKey& key, ByteView wrappedKey,
                                                      ByteView payload);
CORVANE_EXPORT std::vector<std::uint8_t> openEnvelope(const RsaPrivateKey& key, ByteView wrappedKey,
                                                      ByteView payload, std::error_code& error) noexcept;
CORVANE_EXPORT std::vector<std::uint8_t> openEnvelope(const RsaPrivateKey& key, ByteView wrappedKey,
                                                      ByteView payload, ErrorInfo& error) noexcept;

// A new envelope of the message: a new key of the form asked for (full
// strength unless a peer needs Des3KeyForm::hexText), wrapped
// under the public key with filler from the pool, and the message encrypted
// under it. The payload is the message's length rounded up to the next
// multiple of 8 above it. What QV_RSAPrivateDecrypt with QVDes3 (no IV)
// opens, and openEnvelope. ErrorCode::badLength for a key too small to wrap
// 24 bytes (below 280 bits), notSeeded for a pool that wants seed bytes,
// std::errc::io_error when the entropy source fails.
CORVANE_EXPORT Envelope sealEnvelope(const RsaPublicKey& key, ByteView message, RandomPool& pool,
                                     Des3KeyForm form = Des3KeyForm::bytes);
// The same, reporting a failure in error (the envelope is then empty).
CORVANE_EXPORT Envelope sealEnvelope(const RsaPublicKey& key, ByteView message, RandomPool& pool, Des3KeyForm form,
                                     ErrorInfo& error) noexcept;
// The same with a pool seeded for the call.
CORVANE_EXPORT Envelope sealEnvelope(const RsaPublicKey& key, ByteView message,
                                     Des3KeyForm form = Des3KeyForm::bytes);

// openEnvelope on many envelopes under one key, the wrapped keys unwrapped
// together on the RSA batch lanes: per item its plaintext or
// envelopeRefused, in the order given. An item's outcome and time do not
// depend on the other items' contents.
CORVANE_EXPORT std::vector<BatchResult> openEnvelopes(const RsaPrivateKey& key,
                                                      std::span<const EnvelopeView> envelopes);

// sealEnvelope on each message, drawing from one pool; the envelopes in the
// order given. Fails as sealEnvelope does (for all or none).
CORVANE_EXPORT std::vector<Envelope> sealEnvelopes(const RsaPublicKey& key, std::span<const ByteView> messages,
                                                   RandomPool& pool, Des3KeyForm form = Des3KeyForm::bytes);

}  // namespace corvane::v1

#endif  // CORVANE_CORVANE_HPP
