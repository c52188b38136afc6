// Base64 for the tool: stages over the library's Base64Encoder and
// Base64Decoder, in pieces of any size: the standard family (always padded)
// and the web-safe family (padding optional on encode, accepted with or
// without on decode).
//
// Results are those of the library coding the whole input at once, with
// the tool's rules on decoding: a NUL byte is refused (the library would end
// the text there and drop the rest silently), and text made only of
// whitespace (tab, line feed, vertical tab, form feed, carriage return,
// space, and the bytes 0xA0 and 0xFF) decodes to no bytes instead of
// failing. With ignoreGarbage, decoding first drops every byte that is
// neither in the family's alphabet nor "=" (as coreutils' base64 -d -i does).
#ifndef CORVANE_TOOL_BASE64_STREAM_H
#define CORVANE_TOOL_BASE64_STREAM_H

#include <Corvane/corvane.hpp>

#include <optional>
#include <string>

#include "tools/corvane/io/chunked_io.h"

namespace corvane::tool {

enum class Base64Family { standard, webSafe };

// Encodes into lines of `columns` characters, each ended by a line feed, as
// is a shorter last one; columns 0 writes one line with its line feed. No
// text, no line.
class Base64EncodeStage final : public ByteSink {
public:
    Base64EncodeStage(Base64Family family, bool padded, std::size_t columns, ByteSink& out);
    void write(std::span<const std::uint8_t> bytes) override;
    void finish() override;

private:
    v1::Base64Encoder encoder_;
    bool oneLine_;
    bool wroteAny_ = false;
    ByteSink& out_;
    std::string text_;
};

class Base64DecodeStage final : public ByteSink {
public:
    // invalidMessage is the failure's text for input the rules refuse.
    Base64DecodeStage(Base64Family family, bool ignoreGarbage, std::string invalidMessage, ByteSink& out);
    ~Base64DecodeStage() override;
    void write(std::span<const std::uint8_t> text) override;
    void finish() override;

private:
    void decode(std::span<const std::uint8_t> text);

    Base64Family family_;
    v1::Base64Decoder decoder_;
    bool ignoreGarbage_;
    std::string invalidMessage_;
    ByteSink& out_;
    Bytes bytes_;
    Bytes kept_;  // the text with garbage dropped
};

// The whole text of bytes, without a line end; "" for no bytes.
std::string base64Encode(std::span<const std::uint8_t> bytes, Base64Family family, bool padded = true);

// The decoded bytes of a whole text, by the rules above (no garbage
// dropped); nullopt when they refuse it.
std::optional<Bytes> base64Decode(std::span<const std::uint8_t> text, Base64Family family);

}  // namespace corvane::tool

#endif
