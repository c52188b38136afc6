// Hexadecimal text on the command line: byte strings (keys, IVs) and RSA
// numbers (modulus, exponent).
#ifndef CORVANE_TOOL_HEX_H
#define CORVANE_TOOL_HEX_H

#include <optional>
#include <string>
#include <string_view>

#include "io.h"

namespace corvane::tool {

// Bytes of an even-length text of hexadecimal digits (either case);
// nullopt for an odd length or any other character.
std::optional<Bytes> parseHexBytes(std::string_view text);

// A number written in hexadecimal, in the canonical even-length form that
// QVSimpleRSA takes: leading zero digits removed, then one "0" put back in
// front when the count is odd ("10001" -> "010001", "00ff" -> "ff").
// nullopt when the text is empty or holds a non-hexadecimal character.
// The value zero gives "".
std::optional<std::string> canonicalHexNumber(std::string_view text);

// Lower-case hexadecimal of the bytes.
std::string toHex(std::span<const std::uint8_t> bytes);

}  // namespace corvane::tool

#endif
