// The fixed tables of the Data Encryption Standard (FIPS 46-3), and the
// positions derived from them at compile time. Bits are numbered as the
// standard numbers them: bit 1 is the most significant bit of a block's first
// byte, bit 64 the least significant bit of its last byte.
//
// The bitsliced engine uses these tables only as compile-time constants
// (which word feeds which gate), never as run-time lookups on data or keys;
// the S-boxes are Boolean circuits (des_sbox_gates.h, des_sbox_ternary.h) and
// the S-box table here serves the tests that check those circuits.
#ifndef CORVANE_DES_TABLES_H
#define CORVANE_DES_TABLES_H

#include <array>
#include <cstdint>

namespace corvane::des {

// Initial permutation: bit i of the permuted block is bit kIp[i] of the input.
inline constexpr std::array<std::uint8_t, 64> kIp = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

// Expansion of the 32-bit half block to the 48 S-box input bits.
inline constexpr std::array<std::uint8_t, 48> kE = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
    12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
    22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};

// Permutation of the 32 S-box output bits.
inline constexpr std::array<std::uint8_t, 32> kP = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

// Permuted choice 1 (key bits to C0 || D0) and 2 (Cn || Dn to a round key).
inline constexpr std::array<std::uint8_t, 56> kPc1 = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
    35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
    46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
inline constexpr std::array<std::uint8_t, 48> kPc2 = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
    26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
    51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

// Left rotations of C and D before each of the 16 rounds.
inline constexpr std::array<std::uint8_t, 16> kShifts = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// The eight S-boxes: row (first and last input bit) by column (middle four).
inline constexpr std::uint8_t kSbox[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}}};

// Where S-box output bit q (0..31, box q / 4, most significant first) lands
// in the round function's output: kP[kPInverse[q]] == q + 1.
inline constexpr std::array<std::uint8_t, 32> kPInverse = [] {
    std::array<std::uint8_t, 32> inv{};
    for (std::uint8_t i = 0; i < 32; ++i) inv[kP[i] - 1u] = i;
    return inv;
}();

// The key bit (1..64) that becomes bit j of the round key of round r
// (0..15): PC-1, the rotations of C and D up to that round, then PC-2.
inline constexpr std::array<std::array<std::uint8_t, 48>, 16> kRoundKeyBits = [] {
    std::array<std::array<std::uint8_t, 48>, 16> bits{};
    unsigned shift = 0;
    for (unsigned r = 0; r < 16; ++r) {
        shift += kShifts[r];
        for (unsigned j = 0; j < 48; ++j) {
            const unsigned p = kPc2[j] - 1u;  // position in Cn || Dn
            const unsigned half = p < 28 ? 0u : 28u;
            bits[r][j] = kPc1[half + (p - half + shift) % 28];
        }
    }
    return bits;
}();

// The bit of a little-endian 64-bit load of a block that holds bit n (1..64).
// Loading blocks little-endian spares the byte swap; only the bit positions
// the engine reads and writes change.
constexpr unsigned loadedBit(unsigned n) { return 8 * ((n - 1) / 8) + 7 - (n - 1) % 8; }

}  // namespace corvane::des

#endif  // CORVANE_DES_TABLES_H
