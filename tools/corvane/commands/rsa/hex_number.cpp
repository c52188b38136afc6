#include "tools/corvane/commands/rsa/hex_number.h"

#include <Corvane/corvane.hpp>

namespace corvane::tool {

std::optional<std::string> canonicalHexNumber(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::size_t first = text.find_first_not_of('0');
    std::string digits = first == std::string_view::npos ? std::string() : std::string(text.substr(first));
    if (digits.size() % 2 != 0) digits.insert(digits.begin(), '0');
    // The library's codec decides what a digit is.
    std::error_code error;
    v1::hexDecode(digits, v1::HexWhitespace::reject, error);
    if (error) return std::nullopt;
    return digits;
}

}  // namespace corvane::tool
