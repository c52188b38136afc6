#include "hex.h"

namespace corvane::tool {

namespace {

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<Bytes> parseHexBytes(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    Bytes out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int hi = digitValue(text[i]);
        int lo = digitValue(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return out;
}

std::optional<std::string> canonicalHexNumber(std::string_view text) {
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (digitValue(c) < 0) return std::nullopt;
    std::size_t first = text.find_first_not_of('0');
    std::string digits = first == std::string_view::npos ? std::string() : std::string(text.substr(first));
    if (digits.size() % 2 != 0) digits.insert(digits.begin(), '0');
    return digits;
}

std::string toHex(std::span<const std::uint8_t> bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0f]);
    }
    return out;
}

}  // namespace corvane::tool
