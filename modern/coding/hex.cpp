// The modern layer's hexadecimal codec, over the shared digit routines.
#include <Corvane/modern/coding.hpp>
#include <new>
#include <string>

#include "modern/support/failures.h"
#include "platform/hex_digits.h"
#include "platform/secure_zero.h"

namespace corvane::v1 {

namespace {

bool isSkippedSpace(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Why a text did not decode: a character that is no digit (at offset), or
// an odd count of digits.
struct HexFault {
    enum class Kind : unsigned char { none, notADigit, oddCount } kind = Kind::none;
    std::size_t offset = 0;  // of the character, or of the unpaired digit
    std::size_t digits = 0;  // with oddCount

    std::string describe() const {
        if (kind == Kind::notADigit) return "not a hexadecimal digit at offset " + std::to_string(offset);
        return "needs an even number of hexadecimal digits; this text has " + std::to_string(digits) +
               " (the last, at offset " + std::to_string(offset) + ", has no partner)";
    }
};

// Decodes into bytes (empty on entry). On a fault, bytes is wiped and
// emptied: what was decoded may be a secret's first part.
void decodeInto(std::string_view text, HexWhitespace whitespace, std::vector<std::uint8_t>& bytes,
                HexFault& fault) {
    try {
        bytes.reserve(text.size() / 2);
        int high = -1;  // the first digit of a pair, while its partner is awaited
        std::size_t highAt = 0;
        for (std::size_t i = 0; i < text.size(); i++) {
            const char c = text[i];
            const int value = hex_digits::digitValue(c);
            if (value < 0) {
                if (whitespace == HexWhitespace::skip && isSkippedSpace(c)) continue;
                fault = {HexFault::Kind::notADigit, i, 0};
                break;
            }
            if (high < 0) {
                high = value;
                highAt = i;
            } else {
                bytes.push_back(static_cast<std::uint8_t>(high << 4 | value));
                high = -1;
            }
        }
        if (fault.kind == HexFault::Kind::none && high >= 0)
            fault = {HexFault::Kind::oddCount, highAt, 2 * bytes.size() + 1};
    } catch (...) {
        secure_zero(bytes.data(), bytes.size());
        bytes.clear();
        throw;
    }
    if (fault.kind != HexFault::Kind::none) {
        secure_zero(bytes.data(), bytes.size());
        bytes.clear();
    }
}

}  // namespace

std::string hexEncode(ByteView bytes, HexCase letterCase) {
    std::string text(2 * bytes.size(), '\0');
    if (!bytes.empty())
        hex_digits::encode(bytes.data(), bytes.size(), text.data(), letterCase == HexCase::upper);
    return text;
}

std::vector<std::uint8_t> hexDecode(std::string_view text, HexWhitespace whitespace,
                                    std::error_code& error) noexcept {
    error.clear();
    std::vector<std::uint8_t> bytes;
    HexFault fault;
    try {
        decodeInto(text, whitespace, bytes, fault);
    } catch (const std::bad_alloc&) {
        error = ErrorCode::outOfMemory;
        return {};
    }
    if (fault.kind != HexFault::Kind::none) error = ErrorCode::invalidInput;
    return bytes;
}

std::vector<std::uint8_t> hexDecode(std::string_view text, HexWhitespace whitespace) {
    std::vector<std::uint8_t> bytes;
    HexFault fault;
    try {
        decodeInto(text, whitespace, bytes, fault);
    } catch (const std::bad_alloc&) {
        corvane::detail::throwError(ErrorCode::outOfMemory);
    }
    if (fault.kind != HexFault::Kind::none)
        corvane::detail::throwError(ErrorCode::invalidInput, fault.describe());
    return bytes;
}

}  // namespace corvane::v1

// The forms that report a failure in an ErrorInfo instead of throwing it:
// each runs the throwing form and keeps what its Error says, so the code
// and the message are exactly the exception's.
namespace corvane::v1 {

std::vector<std::uint8_t> hexDecode(std::string_view text, HexWhitespace whitespace, ErrorInfo& error) noexcept {
    return corvane::detail::reportInto(error, [&] { return hexDecode(text, whitespace); });
}

}  // namespace corvane::v1
