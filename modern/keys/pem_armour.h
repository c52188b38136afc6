// PEM armour ("-----BEGIN label-----", optional header lines, Base64,
// "-----END label-----") read and written by the library itself, with its
// own Base64 coder, so that decoded key bytes land only in wiped buffers.
// Internal: not installed, not exported.
#ifndef CORVANE_MODERN_PEM_ARMOUR_H
#define CORVANE_MODERN_PEM_ARMOUR_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "modern/support/secret_file.h"

namespace corvane::detail {

struct PemBlock {
    std::string_view label;
    std::string_view headers;  // the "Name: value" lines before the Base64, or empty
    std::string_view body;     // the Base64 lines
};

enum class PemScan {
    found,    // block holds the next armoured object
    none,     // no further BEGIN line
    damaged,  // a BEGIN line without its END line, or a broken BEGIN line
};

// Whether the bytes hold a BEGIN line anywhere (text outside the armour is
// ignored, as the openssl tool ignores it).
bool holdsPem(std::span<const std::uint8_t> bytes) noexcept;

// The next armoured object in rest; rest moves past it.
PemScan nextPemBlock(std::string_view& rest, PemBlock& block) noexcept;

// The Base64 body decoded into out; false for damaged Base64 or an empty
// body (and for memory running out, told apart by outOfMemory).
bool decodePemBody(const PemBlock& block, SecretBuffer& out, bool& outOfMemory) noexcept;

// The value of one header line ("DEK-Info" gives "AES-256-CBC,..."), or
// an empty view when the block has no such line.
std::string_view pemHeader(const PemBlock& block, std::string_view name) noexcept;

// The armour around der: headers (each line ending in "\n", then an empty
// line is added) and Base64 lines of 64 characters. The text is sized once,
// so no partial copy of it is left behind.
std::string pemOf(std::string_view label, std::span<const std::uint8_t> der, std::string_view headers = {});

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_PEM_ARMOUR_H
