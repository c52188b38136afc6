// RSA numbers written in hexadecimal on the command line (--modulus,
// --exponent), brought to the form QVSimpleRSA takes.
#ifndef CORVANE_TOOL_HEX_NUMBER_H
#define CORVANE_TOOL_HEX_NUMBER_H

#include <optional>
#include <string>
#include <string_view>

namespace corvane::tool {

// A number written in hexadecimal, in the canonical even-length form that
// QVSimpleRSA takes: leading zero digits removed, then one "0" put back in
// front when the count is odd ("10001" -> "010001", "00ff" -> "ff").
// nullopt when the text is empty or holds a non-hexadecimal character.
// The value zero gives "".
std::optional<std::string> canonicalHexNumber(std::string_view text);

}  // namespace corvane::tool

#endif
