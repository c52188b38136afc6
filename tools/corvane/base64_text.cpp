#include "base64_text.h"

#include <Corvane/Foundation.h>
#include <Corvane/QVGTMBase64.h>

#include <algorithm>

#include "tool_error.h"

namespace corvane::tool {

namespace {

bool onlyWhitespace(std::span<const std::uint8_t> text) {
    return std::all_of(text.begin(), text.end(), [](std::uint8_t c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    });
}

}  // namespace

std::string base64Encode(std::span<const std::uint8_t> bytes, Base64Family family, bool padded) {
    if (bytes.empty()) return {};
    // The class hands its results to the innermost pool; this one keeps
    // them only as long as the copy below takes.
    NSAutoreleasePool pool;
    NSMutableData* text = family == Base64Family::standard
                              ? QVGTMBase64::encodeBytes(bytes.data(), bytes.size())
                              : QVGTMBase64::webSafeEncodeBytes(bytes.data(), bytes.size(), padded);
    if (text == nullptr) failure("Base64 encoding failed (out of memory)");
    const char* chars = static_cast<const char*>(text->bytes());
    return std::string(chars, chars + text->length());
}

std::optional<Bytes> base64Decode(std::span<const std::uint8_t> text, Base64Family family) {
    // The coder stops at a NUL byte and ignores the rest; for a file that
    // would drop data silently, so a NUL makes the text invalid here.
    if (std::find(text.begin(), text.end(), std::uint8_t{0}) != text.end()) return std::nullopt;
    if (onlyWhitespace(text)) return Bytes{};
    NSAutoreleasePool pool;
    NSMutableData* bytes = family == Base64Family::standard ? QVGTMBase64::decodeBytes(text.data(), text.size())
                                                            : QVGTMBase64::webSafeDecodeBytes(text.data(), text.size());
    if (bytes == nullptr) return std::nullopt;
    auto view = bytes->span();
    return Bytes(view.begin(), view.end());
}

}  // namespace corvane::tool
