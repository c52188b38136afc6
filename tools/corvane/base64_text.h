// Base64 for the tool, through QVGTMBase64: the standard family (always
// padded) and the web-safe family (padding optional on encode, accepted
// with or without on decode). Text is returned without a line end.
#ifndef CORVANE_TOOL_BASE64_TEXT_H
#define CORVANE_TOOL_BASE64_TEXT_H

#include <optional>
#include <string>

#include "io.h"

namespace corvane::tool {

enum class Base64Family { standard, webSafe };

// Encoded text; "" for no bytes (the class refuses empty input, the tool
// treats it as the empty text). Throws a failure if the coder gives nil.
std::string base64Encode(std::span<const std::uint8_t> bytes, Base64Family family, bool padded = true);

// Decoded bytes; an empty result for text that is empty or only
// whitespace; nullopt for text that is not valid in the family or that
// holds a NUL byte.
// Whitespace anywhere (a trailing line end, wrapped lines) is skipped.
std::optional<Bytes> base64Decode(std::span<const std::uint8_t> text, Base64Family family);

}  // namespace corvane::tool

#endif
