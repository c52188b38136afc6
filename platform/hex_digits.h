// Hexadecimal digits, one at a time: the low level that the library's hex
// codec (hexEncode/hexDecode of <Corvane/modern/coding.hpp>), the key readers'
// number texts and QVDes3's random keys share. Each user keeps its own rules
// for whole texts (odd counts, leading zeros) on top of these.
#ifndef CORVANE_HEX_DIGITS_H
#define CORVANE_HEX_DIGITS_H

#include <cstddef>
#include <cstdint>

namespace corvane::hex_digits {

// The value of a hexadecimal digit of either case, or -1 for any other
// character. Fixed ASCII: it does not follow the locale.
constexpr int digitValue(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Writes the two digits of each byte, high digit first, into out, which
// has room for 2 * count characters (no NUL is written).
inline void encode(const std::uint8_t* bytes, std::size_t count, char* out, bool upperCase) noexcept {
    const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    for (std::size_t i = 0; i < count; i++) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 15];
    }
}

}  // namespace corvane::hex_digits

#endif  // CORVANE_HEX_DIGITS_H
