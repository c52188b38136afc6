// Base64 for the tool, through QVGTMBase64, in pieces of any size: the
// standard family (always padded) and the web-safe family (padding optional
// on encode, accepted with or without on decode).
//
// Results are those of the class coding the whole input at once:
//  - encoding: the class's text, cut into lines by a LineWrapper if asked;
//  - decoding: the class's bytes, and its refusals (a pad followed by more
//    data, leftover bits, a character outside the alphabet, a lone last
//    character, for the standard family a missing pad), with two rules of
//    the tool's own: a NUL byte is refused (the class would end the text
//    there and drop the rest silently), and text made only of whitespace
//    (tab, line feed, vertical tab, form feed, carriage return, space, and
//    the bytes 0xA0 and 0xFF, which the class skips) decodes to no bytes
//    instead of failing.
// With ignoreGarbage, decoding first drops every byte that is neither in the
// family's alphabet nor "=" (as coreutils' base64 -d -i does).
#ifndef CORVANE_TOOL_BASE64_STREAM_H
#define CORVANE_TOOL_BASE64_STREAM_H

#include <array>
#include <optional>
#include <string>

#include "chunked_io.h"

namespace corvane::tool {

enum class Base64Family { standard, webSafe };

class Base64Encoder final : public ByteSink {
public:
    Base64Encoder(Base64Family family, bool padded, ByteSink& out)
        : family_(family), padded_(padded), out_(out) {}
    void write(std::span<const std::uint8_t> bytes) override;
    void finish() override;

private:
    void encode(std::span<const std::uint8_t> bytes);

    Base64Family family_;
    bool padded_;
    ByteSink& out_;
    // Bytes of a group of three not yet complete.
    std::array<std::uint8_t, 3> carry_{};
    std::size_t carried_ = 0;
};

// Puts a line feed after every `columns` characters and at the end of
// non-empty text; columns 0 puts one only at the end.
class LineWrapper final : public ByteSink {
public:
    LineWrapper(std::size_t columns, ByteSink& out) : columns_(columns), out_(out) {}
    void write(std::span<const std::uint8_t> text) override;
    void finish() override;

private:
    std::size_t columns_;
    ByteSink& out_;
    std::size_t column_ = 0;
    bool wroteAny_ = false;
    Bytes lines_;
};

class Base64Decoder final : public ByteSink {
public:
    // invalidMessage is the failure's text for input the rules refuse.
    Base64Decoder(Base64Family family, bool ignoreGarbage, std::string invalidMessage, ByteSink& out);
    ~Base64Decoder() override;
    void write(std::span<const std::uint8_t> text) override;
    void finish() override;

private:
    std::span<const std::uint8_t> decodeInPlace(std::span<const std::uint8_t> text);
    void filter(std::span<const std::uint8_t> text);
    void writeAfterPad(std::span<const std::uint8_t> text);
    void decodeWholeGroups();
    // The class's decoding of text, which holds at least one character of
    // the alphabet or a pad; a refusal is a failure.
    void decodeOrFail(std::span<const std::uint8_t> text);
    [[noreturn]] void refuse() const;

    Base64Family family_;
    bool ignoreGarbage_;
    std::string invalidMessage_;
    ByteSink& out_;
    // Alphabet characters not yet decoded: whole groups are decoded at the
    // end of every write, so at most three remain between writes.
    Bytes clean_;
    // After the first "=": the characters of the unfinished group, the pad,
    // and the byte other than whitespace that may follow it.
    bool padSeen_ = false;
    Bytes padTail_;
    std::size_t bytesAfterPad_ = 0;
};

// The whole text of bytes, without a line end; "" for no bytes.
std::string base64Encode(std::span<const std::uint8_t> bytes, Base64Family family, bool padded = true);

// The decoded bytes of a whole text, by the rules above (no garbage
// dropped); nullopt when they refuse it.
std::optional<Bytes> base64Decode(std::span<const std::uint8_t> text, Base64Family family);

}  // namespace corvane::tool

#endif
