// What the short-message kernels derive at compile time from a layout
// (des_short_layout.h) and the tables of the standard (des_tables.h): the
// S-box tables in the form each instruction set looks them up, the masks of
// the rotations that carry S-box outputs to the next round's inputs, and the
// bit gathers that turn blocks into expanded halves and back, and keys into
// round keys. Nothing here runs at run time; every table is a constant of
// the code, never indexed by a key or by data except through the in-register
// lookups of the kernels.
#ifndef CORVANE_DES_SHORT_TABLES_H
#define CORVANE_DES_SHORT_TABLES_H

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/des/des_short_layout.h"
#include "engine/des/des_tables.h"

namespace corvane::des::short_tables {

// The lane bit that holds input t (0..5, in the order of E) of S-box j.
constexpr unsigned inputBit(const ShortLayout& layout, unsigned box, unsigned t) {
    return 8 * box + layout.windows[box][t];
}

// The output of S-box `box` (four bits, the first output most significant)
// for the value v of its byte, whose inputs lie where the layout puts them.
constexpr unsigned sboxOutput(const ShortLayout& layout, unsigned box, unsigned v) {
    unsigned b[6] = {};
    for (unsigned t = 0; t < 6; ++t) b[t] = (v >> layout.windows[box][t]) & 1u;
    const unsigned row = 2 * b[0] + b[5];
    const unsigned column = 8 * b[1] + 4 * b[2] + 2 * b[3] + b[4];
    return kSbox[box][row][column];
}

// The byte the S-box step leaves for box `box` whose output is `out`: every
// slot of the byte that holds one of the box's output bits gets that bit.
constexpr std::uint8_t slotByte(const ShortLayout& layout, unsigned box, unsigned out) {
    unsigned value = 0;
    for (unsigned s = 0; s < 8; ++s) {
        const unsigned q = layout.slots[8 * box + s];
        if (q == 0) continue;
        const unsigned u = q - 1 - 4 * box;  // 0 for the most significant output bit
        value |= ((out >> (3 - u)) & 1u) << s;
    }
    return static_cast<std::uint8_t>(value);
}

// Per rotation of the layout, the input bits it serves: each input bit of
// the next round takes its S-box output bit from the first rotation that
// brings a slot holding that bit onto it. A layout that leaves an input
// unserved stops the compilation here.
constexpr std::array<std::uint64_t, 8> routeMasks(const ShortLayout& layout) {
    std::array<std::uint64_t, 8> masks{};
    for (unsigned j = 0; j < 8; ++j) {
        for (unsigned t = 0; t < 6; ++t) {
            const unsigned p = inputBit(layout, j, t);
            const unsigned q = kP[kE[6 * j + t] - 1u];
            bool served = false;
            for (unsigned k = 0; k < layout.rotationCount && !served; ++k) {
                const unsigned a = (p + 64 - layout.rotations[k]) % 64;
                if (layout.slots[a] == q) {
                    masks[k] |= std::uint64_t{1} << p;
                    served = true;
                }
            }
            if (!served) throw "a layout input bit no rotation serves";
        }
    }
    return masks;
}

// A fixed gather of bits: destination lane bit p receives bit from[p] % 64
// of source from[p] / 64 (0 or 1), or stays zero when from[p] is negative.
struct BitMap {
    std::int16_t from[64];
};

constexpr BitMap emptyMap() {
    BitMap map{};
    for (auto& f : map.from) f = -1;
    return map;
}

// A map whose destination is every S-box input of the layout, each taking
// source(j, t) for input t of box j.
template <class Source>
constexpr BitMap onInputs(const ShortLayout& layout, Source source) {
    BitMap map = emptyMap();
    for (unsigned j = 0; j < 8; ++j)
        for (unsigned t = 0; t < 6; ++t) map.from[inputBit(layout, j, t)] = static_cast<std::int16_t>(source(j, t));
    return map;
}

// A block (8 bytes loaded little-endian into a lane) to the expanded form of
// its left (half 0) or right (half 1) half after the initial permutation.
constexpr BitMap blockToHalf(const ShortLayout& layout, unsigned half) {
    return onInputs(layout, [half](unsigned j, unsigned t) { return loadedBit(kIp[32 * half + kE[6 * j + t] - 1u]); });
}

// Two expanded halves (sources 0 and 1: the preoutput's first and second
// half) to the block after the final permutation, which sends preoutput bit
// m to block bit kIp[m - 1].
constexpr BitMap halvesToBlock(const ShortLayout& layout) {
    BitMap map = emptyMap();
    for (unsigned m = 1; m <= 64; ++m) {
        const unsigned half = m > 32 ? 1u : 0u;
        const unsigned bit = m - 32 * half;
        int source = -1;
        for (unsigned i = 0; i < 48 && source < 0; ++i)
            if (kE[i] == bit) source = static_cast<int>(inputBit(layout, i / 6, i % 6));
        map.from[loadedBit(kIp[m - 1u])] = static_cast<std::int16_t>(64 * half + static_cast<unsigned>(source));
    }
    return map;
}

// One 8-byte key (loaded little-endian into a lane) to the key of round r
// (0..15) of its DES, laid out over the S-boxes' inputs.
constexpr BitMap roundKey(const ShortLayout& layout, unsigned round) {
    return onInputs(layout, [round](unsigned j, unsigned t) { return loadedBit(kRoundKeyBits[round][6 * j + t]); });
}

// The same round key in the standard order of its 48 bits (bit j of the
// result is round-key bit j + 1), for the bitsliced engine's masks.
constexpr BitMap roundKeyStandard(unsigned round) {
    BitMap map = emptyMap();
    for (unsigned j = 0; j < 48; ++j) map.from[j] = static_cast<std::int16_t>(loadedBit(kRoundKeyBits[round][j]));
    return map;
}

// ---- rotations: the gather as a sum of rotl(source, r) & mask --------------

struct RotateTerm {
    unsigned source;
    unsigned rotation;
    std::uint64_t mask;
};
struct RotateNet {
    std::size_t count;
    RotateTerm terms[128];
};

constexpr RotateNet rotateNet(const BitMap& map) {
    RotateNet net{};
    for (unsigned source = 0; source < 2; ++source) {
        for (unsigned r = 0; r < 64; ++r) {
            std::uint64_t mask = 0;
            for (unsigned p = 0; p < 64; ++p) {
                const int from = map.from[p];
                if (from >= 0 && static_cast<unsigned>(from) / 64 == source &&
                    (p + 64 - static_cast<unsigned>(from) % 64) % 64 == r)
                    mask |= std::uint64_t{1} << p;
            }
            if (mask != 0) net.terms[net.count++] = RotateTerm{source, r, mask};
        }
    }
    return net;
}

// ---- byte shuffles: a sum of shift(shuffle(source), s) & mask ---------------

// Bytes of the source moved within each lane (destination byte d takes
// source byte bytes[d], or nothing when 0x80), then shifted within the
// 64-bit lane by `shift` bits (left when positive), then masked.
struct ShuffleTerm {
    unsigned source;
    int shift;
    std::uint8_t bytes[8];
    std::uint64_t mask;
};
struct ShuffleNet {
    std::size_t count;
    ShuffleTerm terms[32];
};

// Greedy: each term takes the (source, shift) pair that moves the most bits
// still missing, with for every destination byte the source byte that
// serves the most of them.
constexpr ShuffleNet shuffleNet(const BitMap& map) {
    ShuffleNet net{};
    std::uint64_t missing = 0;
    for (unsigned p = 0; p < 64; ++p)
        if (map.from[p] >= 0) missing |= std::uint64_t{1} << p;
    while (missing != 0) {
        // count[source][shift + 7][destination byte][source byte]: missing
        // bits each choice would move.
        unsigned count[2][15][8][8] = {};
        for (unsigned p = 0; p < 64; ++p) {
            if (((missing >> p) & 1u) == 0) continue;
            const auto f = static_cast<unsigned>(map.from[p]);
            const int shift = static_cast<int>(p % 8) - static_cast<int>(f % 8);
            ++count[f / 64][shift + 7][p / 8][(f % 64) / 8];
        }
        unsigned bestSource = 0, bestBits = 0;
        int bestShift = 0;
        for (unsigned source = 0; source < 2; ++source)
            for (int shift = -7; shift <= 7; ++shift) {
                unsigned bits = 0;
                for (unsigned d = 0; d < 8; ++d) {
                    unsigned most = 0;
                    for (unsigned b = 0; b < 8; ++b) most = count[source][shift + 7][d][b] > most ? count[source][shift + 7][d][b] : most;
                    bits += most;
                }
                if (bits > bestBits) {
                    bestBits = bits;
                    bestSource = source;
                    bestShift = shift;
                }
            }
        ShuffleTerm term{bestSource, bestShift, {}, 0};
        for (unsigned d = 0; d < 8; ++d) {
            term.bytes[d] = 0x80;
            unsigned most = 0;
            for (unsigned b = 0; b < 8; ++b)
                if (count[bestSource][bestShift + 7][d][b] > most) {
                    most = count[bestSource][bestShift + 7][d][b];
                    term.bytes[d] = static_cast<std::uint8_t>(b);
                }
        }
        for (unsigned p = 0; p < 64; ++p) {
            if (((missing >> p) & 1u) == 0) continue;
            const auto f = static_cast<unsigned>(map.from[p]);
            if (f / 64 == bestSource && static_cast<int>(p % 8) - static_cast<int>(f % 8) == bestShift &&
                term.bytes[p / 8] == (f % 64) / 8)
                term.mask |= std::uint64_t{1} << p;
        }
        if (net.count == 32) throw "a gather that needs more than 32 shuffle terms";
        net.terms[net.count++] = term;
        missing &= ~term.mask;
    }
    return net;
}

// The vpshufb indices of term I of net N over a vector of Width bytes: the
// term's byte moves for both 64-bit lanes of every 128-bit lane (vpshufb
// indexes within the 128-bit lane), 0x80 where nothing moves.
template <const ShuffleNet& N, std::size_t I, std::size_t Width>
struct ShuffleIndex {
    static constexpr std::array<std::uint8_t, Width> make() {
        std::array<std::uint8_t, Width> index{};
        for (unsigned i = 0; i < Width; ++i) {
            const std::uint8_t b = N.terms[I].bytes[i % 8];
            index[i] = b == 0x80 ? std::uint8_t{0x80} : static_cast<std::uint8_t>(b + 8 * ((i / 8) % 2));
        }
        return index;
    }
    alignas(64) static constexpr std::array<std::uint8_t, Width> bytes = make();
};

// ---- the round-key gather of the AVX2 and AVX-512 kernels ------------------

// Per half of the 64-bit result (bits 0..31, 32..63): the key byte that
// holds the bit each result bit takes (0x80 for none: vpshufb gives zero)
// and the bit within it, so that vpshufb, vpand, vpcmpeqb and vpmovmskb
// gather 32 bits at once.
struct MoveMaskGather {
    alignas(32) std::uint8_t index[2][32];
    alignas(32) std::uint8_t bit[2][32];
};

constexpr MoveMaskGather moveMaskGather(const BitMap& map) {
    MoveMaskGather g{};
    for (unsigned half = 0; half < 2; ++half) {
        for (unsigned b = 0; b < 32; ++b) {
            const int from = map.from[32 * half + b];
            g.index[half][b] = static_cast<std::uint8_t>(from < 0 ? 0x80 : from / 8);
            g.bit[half][b] = static_cast<std::uint8_t>(from < 0 ? 0xFFu : 1u << (from % 8));
        }
    }
    return g;
}

// ---- S-box tables ------------------------------------------------------------

// AVX-512 VBMI: four tables of 128 bytes, table i holding box 2i at entries
// 0..63 and box 2i + 1 at 64..127 (vpermi2b takes bit 6 of the index to
// choose; the round keys carry that bit for the odd boxes).
constexpr std::array<std::array<std::uint8_t, 128>, 4> vbmiTables(const ShortLayout& layout) {
    std::array<std::array<std::uint8_t, 128>, 4> tables{};
    for (unsigned i = 0; i < 4; ++i)
        for (unsigned e = 0; e < 128; ++e) {
            const unsigned box = 2 * i + (e >> 6);
            tables[i][e] = slotByte(layout, box, sboxOutput(layout, box, e & 63u));
        }
    return tables;
}

// The slot of output bit u (0 = most significant) of box j, in a layout that
// holds each output bit once.
constexpr unsigned slotOf(const ShortLayout& layout, unsigned box, unsigned u) {
    for (unsigned s = 0; s < 8; ++s)
        if (layout.slots[8 * box + s] == 4 * box + u + 1) return s;
    throw "an output bit without a slot";
}

// AVX2 (vpshufb, one 16-byte table for every byte position): table [u][row]
// at column c answers for all eight boxes at once, bit slotOf(j, u) telling
// output bit u of box j for the input with bits 0..3 = c and bits 4..5 =
// row; each byte position then keeps its own box's bit (shuffleOutputMasks).
constexpr std::array<std::array<std::array<std::uint8_t, 16>, 4>, 4> shuffleTables(const ShortLayout& layout) {
    std::array<std::array<std::array<std::uint8_t, 16>, 4>, 4> tables{};
    for (unsigned u = 0; u < 4; ++u)
        for (unsigned row = 0; row < 4; ++row)
            for (unsigned c = 0; c < 16; ++c) {
                unsigned value = 0;
                for (unsigned j = 0; j < 8; ++j) {
                    const unsigned out = sboxOutput(layout, j, c | (row << 4));
                    value |= ((out >> (3 - u)) & 1u) << slotOf(layout, j, u);
                }
                tables[u][row][c] = static_cast<std::uint8_t>(value);
            }
    return tables;
}

constexpr std::array<std::uint64_t, 4> shuffleOutputMasks(const ShortLayout& layout) {
    std::array<std::uint64_t, 4> masks{};
    for (unsigned u = 0; u < 4; ++u)
        for (unsigned j = 0; j < 8; ++j) masks[u] |= std::uint64_t{1} << (8 * j + slotOf(layout, j, u));
    return masks;
}

// Plain words: 32 words whose byte j holds box j's outputs for the inputs
// 2w (low four bits) and 2w + 1 (high four bits): the multiplexer tree picks
// the word by input bits 1..5 and the half by bit 0.
constexpr std::array<std::uint64_t, 32> muxWords(const ShortLayout& layout) {
    std::array<std::uint64_t, 32> words{};
    for (unsigned w = 0; w < 32; ++w)
        for (unsigned j = 0; j < 8; ++j) {
            const unsigned low = slotByte(layout, j, sboxOutput(layout, j, 2 * w));
            const unsigned high = slotByte(layout, j, sboxOutput(layout, j, 2 * w + 1));
            words[w] |= static_cast<std::uint64_t>(low | (high << 4)) << (8 * j);
        }
    return words;
}

}  // namespace corvane::des::short_tables

#endif  // CORVANE_DES_SHORT_TABLES_H
