// The key records as text, in the layout of `openssl rsa -text -noout`, so
// that what users compare with openssl's output reads the same. Written by
// hand rather than through libcrypto's printer, which leaves hexadecimal
// copies of the private values in freed memory; every buffer here that held
// a private value is wiped.
#include <Corvane/keys.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "engine/ct/stack_scrub.h"
#include "modern/keys/checks.h"
#include "platform/secure_zero.h"

namespace corvane {

namespace {

// Numbers of up to this many bytes are printed in decimal, as libcrypto does
// for numbers that fit one of its 64-bit words.
constexpr std::size_t kDecimalBytes = 8;
constexpr std::size_t kBytesPerLine = 15;
constexpr char kDigits[] = "0123456789abcdef";

void appendHexByte(std::string& text, std::uint8_t byte) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0f];
}

// "label: 65537 (0x10001)" for a short number; for a longer one "label:",
// then its bytes, most significant first (a 00 ahead of a top bit that is
// set, so that the number does not read as negative), 15 to a line.
// Appends in place: text has room reserved, so that no reallocation leaves
// a copy of a private value behind.
void appendNumber(std::string& text, const char* label, std::span<const std::uint8_t> bigEndian) {
    auto first = std::find_if(bigEndian.begin(), bigEndian.end(), [](std::uint8_t b) { return b != 0; });
    std::span<const std::uint8_t> number(first, bigEndian.end());
    text += label;
    text += ':';
    if (number.size() <= kDecimalBytes) {
        std::uint64_t value = 0;
        for (std::uint8_t b : number) value = value << 8 | b;
        char decimal[24];
        std::size_t length = 0;
        do {
            decimal[length++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        text += ' ';
        while (length > 0) text += decimal[--length];
        text += " (0x";
        bool leading = true;
        for (std::uint8_t b : number)
            for (int shift : {4, 0}) {
                unsigned digit = (b >> shift) & 0x0fu;
                if (leading && digit == 0) continue;
                leading = false;
                text += kDigits[digit];
            }
        if (leading) text += '0';
        text += ")\n";
        secure_zero(decimal, sizeof decimal);
        return;
    }
    std::size_t count = number.size() + (number.front() >= 0x80 ? 1 : 0);
    std::size_t at = 0;
    auto put = [&](std::uint8_t byte) {
        text += at % kBytesPerLine == 0 ? "\n    " : "";
        appendHexByte(text, byte);
        if (++at < count) text += ':';
    };
    if (count > number.size()) put(0);
    for (std::uint8_t b : number) put(b);
    text += '\n';
}

// An upper bound of the text's length: each field at most 128 bytes of
// three characters, plus line starts and labels.
constexpr std::size_t kTextReserve = 8 * (40 + 3 * (MAX_RSA_MODULUS_LEN + 1) + 5 * 10) + 64;

// Builds the text, and clears the stack the building used (stack_scrub.h).
template <typename Write>
std::error_code writeText(std::string& text, Write write) noexcept {
    engine::ScrubStackOnReturn scrub;
    std::string built;
    try {
        built.reserve(kTextReserve);
        write(built);
    } catch (const std::bad_alloc&) {
        secure_zero(built.data(), built.size());
        return ErrorCode::outOfMemory;
    }
    secure_zero(text.data(), text.size());
    text.swap(built);
    // What the caller's string held before.
    secure_zero(built.data(), built.size());
    return ErrorCode::ok;
}

}  // namespace

std::error_code rsaPublicKeyToText(const R_RSA_PUBLIC_KEY& key, std::string& text) noexcept {
    if (ErrorCode e = detail::checkPublicFields(key.modulus, key.exponent); e != ErrorCode::ok) return e;
    return writeText(text, [&](std::string& out) {
        out += "Public-Key: (" + std::to_string(detail::significantBits(key.modulus)) + " bit)\n";
        appendNumber(out, "Modulus", key.modulus);
        appendNumber(out, "Exponent", key.exponent);
    });
}

std::error_code rsaPrivateKeyToText(const R_RSA_PRIVATE_KEY& key, std::string& text) noexcept {
    if (ErrorCode e = detail::checkPrivateRecord(key); e != ErrorCode::ok) return e;
    return writeText(text, [&](std::string& out) {
        out += "Private-Key: (" + std::to_string(detail::significantBits(key.modulus)) + " bit, 2 primes)\n";
        appendNumber(out, "modulus", key.modulus);
        appendNumber(out, "publicExponent", key.publicExponent);
        appendNumber(out, "privateExponent", key.privateExponent);
        appendNumber(out, "prime1", key.prime[0]);
        appendNumber(out, "prime2", key.prime[1]);
        appendNumber(out, "exponent1", key.primeExponent[0]);
        appendNumber(out, "exponent2", key.primeExponent[1]);
        appendNumber(out, "coefficient", key.coefficient);
    });
}

}  // namespace corvane
