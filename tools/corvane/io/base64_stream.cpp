#include "tools/corvane/io/base64_stream.h"

#include <cstring>

#include "platform/secure_zero.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

namespace {

v1::Base64Alphabet alphabetOf(Base64Family family) {
    return family == Base64Family::webSafe ? v1::Base64Alphabet::webSafe : v1::Base64Alphabet::standard;
}

// The standard family demands padding on decoding, the web-safe family
// takes text with or without it.
v1::Base64Padding decodePaddingOf(Base64Family family) {
    return family == Base64Family::webSafe ? v1::Base64Padding::unpadded : v1::Base64Padding::padded;
}

// What -i keeps: the family's alphabet (RFC 4648) and the pad.
bool keptByIgnoreGarbage(std::uint8_t b, Base64Family family) {
    const bool sign = family == Base64Family::standard ? (b == '+' || b == '/') : (b == '-' || b == '_');
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || sign || b == '=';
}

}  // namespace

// ---- encoding ---------------------------------------------------------------

Base64EncodeStage::Base64EncodeStage(Base64Family family, bool padded, std::size_t columns, ByteSink& out)
    : encoder_(alphabetOf(family), padded ? v1::Base64Padding::padded : v1::Base64Padding::unpadded, columns),
      oneLine_(columns == 0),
      out_(out) {}

void Base64EncodeStage::write(std::span<const std::uint8_t> bytes) {
    const std::size_t room = encoder_.updateCapacity(bytes.size());
    if (text_.size() < room) text_.resize(room);
    const std::size_t size = encoder_.update(bytes, text_);
    wroteAny_ = wroteAny_ || size > 0;
    out_.write(std::span(reinterpret_cast<const std::uint8_t*>(text_.data()), size));
}

void Base64EncodeStage::finish() {
    const std::size_t room = encoder_.finishCapacity() + 1;
    if (text_.size() < room) text_.resize(room);
    std::size_t size = encoder_.finish(text_);
    wroteAny_ = wroteAny_ || size > 0;
    // The encoder ends wrapped lines itself; one unwrapped line is ended here.
    if (oneLine_ && wroteAny_) text_[size++] = '\n';
    out_.write(std::span(reinterpret_cast<const std::uint8_t*>(text_.data()), size));
    out_.finish();
}

// ---- decoding ---------------------------------------------------------------

Base64DecodeStage::Base64DecodeStage(Base64Family family, bool ignoreGarbage, std::string invalidMessage,
                                     ByteSink& out)
    : family_(family),
      decoder_(alphabetOf(family), decodePaddingOf(family)),
      ignoreGarbage_(ignoreGarbage),
      invalidMessage_(std::move(invalidMessage)),
      out_(out) {}

Base64DecodeStage::~Base64DecodeStage() {
    secure_zero(bytes_.data(), bytes_.size());
    secure_zero(kept_.data(), kept_.size());
}

void Base64DecodeStage::decode(std::span<const std::uint8_t> text) {
    const std::size_t room = decoder_.updateCapacity(text.size());
    if (bytes_.size() < room) bytes_.resize(room);
    std::error_code error;
    const std::size_t size = decoder_.update(text, bytes_, error);
    if (error) failure(invalidMessage_);
    out_.write(std::span(bytes_).first(size));
}

void Base64DecodeStage::write(std::span<const std::uint8_t> text) {
    if (!ignoreGarbage_) {
        if (std::memchr(text.data(), 0, text.size()) != nullptr) failure(invalidMessage_);
        decode(text);
        return;
    }
    kept_.resize(text.size());
    std::size_t count = 0;
    for (std::uint8_t b : text) {
        kept_[count] = b;
        count += keptByIgnoreGarbage(b, family_);
    }
    decode(std::span(kept_).first(count));
}

void Base64DecodeStage::finish() {
    if (decoder_.blank()) {
        // Whitespace only: no bytes, where the library refuses.
        decoder_.reset();
    } else {
        std::uint8_t last[v1::Base64Decoder::finishCapacity()];
        std::error_code error;
        const std::size_t size = decoder_.finish(last, error);
        if (error) failure(invalidMessage_);
        out_.write(std::span(last, size));
    }
    out_.finish();
}

// ---- whole texts ------------------------------------------------------------

std::string base64Encode(std::span<const std::uint8_t> bytes, Base64Family family, bool padded) {
    return v1::base64Encode(bytes, alphabetOf(family), padded ? v1::Base64Padding::padded : v1::Base64Padding::unpadded);
}

std::optional<Bytes> base64Decode(std::span<const std::uint8_t> text, Base64Family family) {
    MemorySink bytes;
    Base64DecodeStage decoder(family, false, "invalid", bytes);
    try {
        decoder.write(text);
        decoder.finish();
    } catch (const ToolError&) {
        return std::nullopt;
    }
    return std::move(bytes.bytes());
}

}  // namespace corvane::tool
