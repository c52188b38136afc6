// Public keys from and to the hexadecimal texts QVSimpleRSA::setPublicKey takes.
#include <Corvane/keys.h>

#include <Corvane/modern/coding.hpp>
#include <new>

#include "modern/keys/checks.h"
#include "platform/hex_digits.h"
#include "platform/secure_zero.h"

namespace corvane {

namespace {

constexpr std::size_t kMaxDigits = 2 * MAX_RSA_MODULUS_LEN;

using hex_digits::digitValue;

// Reads the text into the right end of the field (which starts all zero).
// keyInvalid for an empty text or a character that is no hexadecimal digit,
// tooLong when the number needs more than the field. bits, when given,
// receives the number's bit count whenever the text is well formed.
ErrorCode putHex(std::string_view text, unsigned char (&field)[MAX_RSA_MODULUS_LEN], ErrorCode tooLong,
                 unsigned* bits) noexcept {
    if (text.empty()) return ErrorCode::keyInvalid;
    for (char c : text)
        if (digitValue(c) < 0) return ErrorCode::keyInvalid;
    std::size_t first = text.find_first_not_of('0');
    if (first == std::string_view::npos) return ErrorCode::ok;  // zero
    std::string_view digits = text.substr(first);
    if (bits != nullptr) {
        unsigned top = 0;
        for (int v = digitValue(digits[0]); v != 0; v >>= 1) top++;
        *bits = static_cast<unsigned>((digits.size() - 1) * 4) + top;
    }
    if (digits.size() > kMaxDigits) return tooLong;
    std::size_t position = MAX_RSA_MODULUS_LEN;
    for (std::size_t end = digits.size(); end > 0; end = end >= 2 ? end - 2 : 0) {
        int low = digitValue(digits[end - 1]);
        int high = end >= 2 ? digitValue(digits[end - 2]) : 0;
        field[--position] = static_cast<unsigned char>(high << 4 | low);
    }
    return ErrorCode::ok;
}

// Upper-case hexadecimal of the number in the field, without leading zero
// bytes; empty for zero.
std::string hexOf(std::span<const std::uint8_t> field) {
    std::size_t first = 0;
    while (first < field.size() && field[first] == 0) first++;
    return v1::hexEncode(field.subspan(first), v1::HexCase::upper);
}

}  // namespace

KeyStatus rsaPublicKeyFromHex(std::string_view modulus, std::string_view exponent,
                              R_RSA_PUBLIC_KEY& key) noexcept {
    KeyStatus status;
    secure_zero_object(key);
    ErrorCode e = putHex(modulus, key.modulus, ErrorCode::keyTooLarge, &status.modulusBits);
    if (e == ErrorCode::ok) e = putHex(exponent, key.exponent, ErrorCode::keyDoesNotFit, nullptr);
    if (e == ErrorCode::ok) e = detail::checkPublicFields(key.modulus, key.exponent);
    if (e != ErrorCode::ok) {
        status.error = e;
        secure_zero_object(key);
        return status;
    }
    key.bits = static_cast<std::uint16_t>(status.modulusBits);
    return status;
}

std::error_code rsaPublicKeyToHex(const R_RSA_PUBLIC_KEY& key, RsaHexKey& hex) noexcept {
    try {
        RsaHexKey text{hexOf(key.modulus), hexOf(key.exponent)};
        if (text.modulus.empty() || text.exponent.empty()) return ErrorCode::keyInvalid;
        hex = std::move(text);
        return {};
    } catch (const std::bad_alloc&) {
        return ErrorCode::outOfMemory;
    }
}

}  // namespace corvane
