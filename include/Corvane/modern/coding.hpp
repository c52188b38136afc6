// Base64 and hexadecimal text in the modern layer (part of
// <Corvane/corvane.hpp>): one-shot calls, calls into the caller's memory and
// the streaming Base64Encoder / Base64Decoder.
#ifndef CORVANE_MODERN_CODING_HPP
#define CORVANE_MODERN_CODING_HPP

#include <Corvane/CorvaneCxx20.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <Corvane/CorvaneExport.h>
#include <Corvane/modern/bytes.hpp>

namespace corvane::v1 {

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

namespace detail {
struct Base64EncoderSteps;
struct Base64DecoderSteps;
}  // namespace detail

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
    friend struct detail::Base64EncoderSteps;  // the encoder's helpers, in the library

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
    friend struct detail::Base64DecoderSteps;  // the decoder's helpers, in the library

    bool webSafe_;
    bool requirePadding_;
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

}  // namespace corvane::v1

#endif  // CORVANE_MODERN_CODING_HPP
