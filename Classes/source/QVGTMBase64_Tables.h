// The constant tables of the Base64 coder: the two alphabets and the decode
// tables made from them. Internal, not installed. Shared by the coder and
// its vector kernels so that every path derives its lookups from the same
// source; everything here is evaluated at compile time, which matters for
// the kernel files: they are compiled for one instruction set each, and a
// function they emitted could otherwise be picked by the linker for code
// that runs on any CPU.
#ifndef CORVANE_QVGTMBASE64_TABLES_H
#define CORVANE_QVGTMBASE64_TABLES_H

#include <array>

namespace corvane::base64_tables {

constexpr char kBase64EncodeChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kWebSafeBase64EncodeChars[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
static_assert(sizeof kBase64EncodeChars == 65 && sizeof kWebSafeBase64EncodeChars == 65);

constexpr char kBase64PaddingChar = '=';
// Decode-table value of every byte outside the alphabet.
constexpr unsigned char kBase64InvalidChar = 99;

// Entry c holds the position of byte c in the alphabet, or the invalid marker.
constexpr std::array<char, 256> makeDecodeTable(const char* alphabet) {
    std::array<char, 256> table{};
    for (char& entry : table) entry = static_cast<char>(kBase64InvalidChar);
    for (int k = 0; k < 64; k++) table[static_cast<unsigned char>(alphabet[k])] = static_cast<char>(k);
    return table;
}

constexpr std::array<char, 256> kBase64DecodeChars = makeDecodeTable(kBase64EncodeChars);
constexpr std::array<char, 256> kWebSafeBase64DecodeChars = makeDecodeTable(kWebSafeBase64EncodeChars);
static_assert(kBase64DecodeChars['+'] == 62 && kBase64DecodeChars['-'] == 99);
static_assert(kWebSafeBase64DecodeChars['_'] == 63 && kWebSafeBase64DecodeChars['/'] == 99);
static_assert(kBase64DecodeChars['='] == 99 && kBase64DecodeChars[0] == 99);

// The decoder's whitespace set: tab, line feed, vertical tab, form feed,
// carriage return, space, 0xA0 and 0xFF. Fixed: it does not follow the locale.
constexpr std::array<unsigned char, 8> kSpaceBytes = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0xA0, 0xFF};

}  // namespace corvane::base64_tables

#endif  // CORVANE_QVGTMBASE64_TABLES_H
