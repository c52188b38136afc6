// Round keys made straight from the key's bits, for both engines: each
// round key is a fixed gather of key bits (PC-1, the rotations and PC-2
// folded together at compile time, des_tables.h), done here with constant
// rotations and masks on plain words, or with vpshufb and vpmovmskb 32 bits
// at a time where AVX2 is compiled in. No branch and no address depends on
// the key. Included by the kernel files; everything is file-local.
#ifndef CORVANE_DES_KEY_GATHER_H
#define CORVANE_DES_KEY_GATHER_H

#include <cstddef>
#include <cstdint>
#include <utility>

#include "engine/des/des3_engine.h"
#include "engine/des/des_short.h"
#include "engine/des/des_short_tables.h"
#include "platform/secure_zero.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace corvane::des {
namespace {

inline std::uint64_t loadLittleEndian(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    return v;
}

inline std::uint64_t rotateLeft(std::uint64_t v, unsigned r) { return r == 0 ? v : (v << r) | (v >> (64 - r)); }

// The gather of a RotateNet, every rotation and mask a constant of the code.
template <const short_tables::RotateNet& N, std::size_t... I>
inline std::uint64_t applyRotateNet(std::uint64_t s0, std::uint64_t s1, std::index_sequence<I...>) {
    return (std::uint64_t{0} ^ ... ^ (rotateLeft(N.terms[I].source == 0 ? s0 : s1, N.terms[I].rotation) & N.terms[I].mask));
}
template <const short_tables::RotateNet& N>
inline std::uint64_t applyRotateNet(std::uint64_t s0, std::uint64_t s1 = 0) {
    return applyRotateNet<N>(s0, s1, std::make_index_sequence<N.count>{});
}

// Orders the round keys of the three DES keys (one[k][r]: key k + 1, round
// r) as a triple-DES of the direction uses them.
inline void orderRounds(const std::uint64_t (&one)[3][16], Direction direction, std::uint64_t (&rounds)[48]) {
    for (unsigned r = 0; r < 16; ++r) {
        if (direction == Direction::decrypt) {
            rounds[r] = one[2][15 - r];
            rounds[16 + r] = one[1][r];
            rounds[32 + r] = one[0][15 - r];
        } else {
            rounds[r] = one[0][r];
            rounds[16 + r] = one[1][15 - r];
            rounds[32 + r] = one[2][r];
        }
    }
}

// The order of a round key's bits: spread over a kernel's layout, or the
// standard order (bit j of the result is round-key bit j + 1) for the
// bitsliced engine's masks.
template <const ShortLayout& L>
struct InLayout {
    static constexpr short_tables::BitMap map(unsigned round) { return short_tables::roundKey(L, round); }
};
struct InStandardOrder {
    static constexpr short_tables::BitMap map(unsigned round) { return short_tables::roundKeyStandard(round); }
};

// Two ways to gather: By::rounds<Order>(key, one) makes the 16 round keys
// of each of the three DES keys in the order given; By::masks widens the
// 48 round keys of a decryption (standard order) into the bitsliced masks.

// ---- on plain words ----------------------------------------------------------

template <class Order, unsigned R>
struct RoundNet {
    static constexpr short_tables::RotateNet net = short_tables::rotateNet(Order::map(R));
};

struct ByRotation {
    template <class Order, std::size_t... R>
    static void sixteen(std::uint64_t key, std::uint64_t (&out)[16], std::index_sequence<R...>) {
        ((out[R] = applyRotateNet<RoundNet<Order, R>::net>(key)), ...);
    }
    template <class Order>
    static void rounds(const std::uint8_t* key, std::uint64_t (&one)[3][16]) {
        for (unsigned k = 0; k < 3; ++k) {
            std::uint64_t word = loadLittleEndian(key + 8 * k);
            sixteen<Order>(word, one[k], std::make_index_sequence<16>{});
            secure_zero(&word, sizeof word);
        }
    }
    static void masks(const std::uint64_t (&rounds)[48], Des3DecryptSchedule& schedule) {
        for (unsigned r = 0; r < 48; ++r)
            for (unsigned j = 0; j < 48; ++j) schedule.masks[r][j] = std::uint64_t{0} - ((rounds[r] >> j) & 1u);
    }
};

#if defined(__AVX2__)
// ---- with AVX2 ---------------------------------------------------------------

template <class Order>
struct MoveMaskRounds {
    static constexpr short_tables::MoveMaskGather gather(unsigned r) {
        return short_tables::moveMaskGather(Order::map(r));
    }
    alignas(32) static constexpr short_tables::MoveMaskGather rounds[16] = {
        gather(0), gather(1), gather(2),  gather(3),  gather(4),  gather(5),  gather(6),  gather(7),
        gather(8), gather(9), gather(10), gather(11), gather(12), gather(13), gather(14), gather(15)};
};

struct ByMoveMask {
    // 32 key bits at once: each byte picks the key byte that holds its bit,
    // keeps that bit, and vpmovmskb collects whether it was set.
    static std::uint32_t half(__m256i key, const std::uint8_t* index, const std::uint8_t* bit) {
        const __m256i b = _mm256_load_si256(reinterpret_cast<const __m256i*>(bit));
        const __m256i picked = _mm256_shuffle_epi8(key, _mm256_load_si256(reinterpret_cast<const __m256i*>(index)));
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(picked, b), b)));
    }
    template <class Order>
    static void rounds(const std::uint8_t* key, std::uint64_t (&one)[3][16]) {
        for (unsigned k = 0; k < 3; ++k) {
            // The 8 key bytes in every quarter of the vector, so that vpshufb
            // finds them within each 128-bit lane.
            __m256i word = _mm256_set1_epi64x(static_cast<long long>(loadLittleEndian(key + 8 * k)));
            for (unsigned r = 0; r < 16; ++r) {
                const short_tables::MoveMaskGather& g = MoveMaskRounds<Order>::rounds[r];
                one[k][r] = half(word, g.index[0], g.bit[0]) |
                            static_cast<std::uint64_t>(half(word, g.index[1], g.bit[1])) << 32;
            }
            word = _mm256_setzero_si256();
        }
    }
    // Four masks at a time: each lane keeps one bit of the round key and
    // compares it with that bit.
    static void masks(const std::uint64_t (&rounds)[48], Des3DecryptSchedule& schedule) {
        for (unsigned r = 0; r < 48; ++r) {
            const __m256i word = _mm256_set1_epi64x(static_cast<long long>(rounds[r]));
            for (unsigned j = 0; j < 48; j += 4) {
                const __m256i bits = _mm256_set_epi64x(static_cast<long long>(std::uint64_t{8} << j),
                                                       static_cast<long long>(std::uint64_t{4} << j),
                                                       static_cast<long long>(std::uint64_t{2} << j),
                                                       static_cast<long long>(std::uint64_t{1} << j));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(&schedule.masks[r][j]),
                                    _mm256_cmpeq_epi64(_mm256_and_si256(word, bits), bits));
            }
        }
    }
};
#endif  // __AVX2__

// A short kernel's schedule in layout L.
template <class By, const ShortLayout& L>
inline void shortSchedule(const std::uint8_t* key, Direction direction, ShortSchedule& out) {
    std::uint64_t one[3][16];
    By::template rounds<InLayout<L>>(key, one);
    orderRounds(one, direction, out.rounds);
    secure_zero(one, sizeof one);
}

// The bitsliced engine's masks.
template <class By>
inline void bitslicedSchedule(const std::uint8_t* key, Des3DecryptSchedule& schedule) {
    std::uint64_t one[3][16], rounds[48];
    By::template rounds<InStandardOrder>(key, one);
    orderRounds(one, Direction::decrypt, rounds);
    By::masks(rounds, schedule);
    secure_zero(one, sizeof one);
    secure_zero(rounds, sizeof rounds);
}

}  // namespace
}  // namespace corvane::des

#endif  // CORVANE_DES_KEY_GATHER_H
