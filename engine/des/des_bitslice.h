// The bitsliced triple-DES decryption pass, written once over a word type and
// instantiated by each kernel file (des_kernel_*.cpp) for its own instruction
// set.
//
// A pass takes 64 words of Ops::kLanes 64-bit lanes: word j holds blocks
// kLanes*j .. kLanes*j + kLanes-1, loaded little-endian, one per lane. A
// 64x64 bit transposition per lane (six stages of swap-moves: shifts and
// masks, no lookup) turns them into 64 words where word i holds bit i of
// every block. The initial and final permutations then cost nothing: they
// only decide which word the rounds read and write. The 48 rounds run the
// S-box circuits on whole words, the key bits entering as all-ones or
// all-zero masks. The inverse transposition and the CBC xor with the
// preceding ciphertext blocks give the plaintext.
//
// Everything here lives in an unnamed namespace on purpose: every kernel
// file gets its own copy, compiled for its own instruction set, so the
// linker can never hand the portable path a function built for AVX-512.
#ifndef CORVANE_DES_BITSLICE_H
#define CORVANE_DES_BITSLICE_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "engine/des/des3_engine.h"
#include "engine/des/des_tables.h"
#include "platform/secure_zero.h"

// The rounds' parts are inlined into one body per round so that the values
// stay in registers.
#ifndef CORVANE_DES_ALWAYS_INLINE
#if defined(__GNUC__)
#define CORVANE_DES_ALWAYS_INLINE __attribute__((always_inline)) inline
#else
#define CORVANE_DES_ALWAYS_INLINE inline
#endif
#endif

namespace corvane::des {
namespace {

template <class Ops>
struct BitslicedDes3 {
    using W = typename Ops::W;
    static constexpr std::size_t kLanes = Ops::kLanes;
    static constexpr std::size_t kWidth = 64 * kLanes;  // blocks per pass
    static constexpr std::size_t kStride = 8 * kLanes;  // bytes per word

    // Swaps bit p + D of word j with bit p of word j + D, for every j and p
    // with bit D clear: one stage of the transposition.
    template <unsigned D>
    static void swapStage(W (&a)[64]) {
        std::uint64_t mask = 0;
        for (unsigned p = 0; p < 64; ++p)
            if ((p & D) == 0) mask |= std::uint64_t{1} << p;
        const W m = Ops::broadcast(mask);
        for (unsigned j = 0; j < 64; ++j) {
            if ((j & D) != 0) continue;
            const W t = (Ops::template shr<D>(a[j]) ^ a[j + D]) & m;
            a[j + D] ^= t;
            a[j] ^= Ops::template shl<D>(t);
        }
    }

    // Bit p of word j trades places with bit j of word p, in every lane. Its
    // own inverse.
    static void transpose(W (&a)[64]) {
        swapStage<32>(a);
        swapStage<16>(a);
        swapStage<8>(a);
        swapStage<4>(a);
        swapStage<2>(a);
        swapStage<1>(a);
    }

    // S-box S of the round function of src under the round key, xored into
    // dst at the places where the permutation P sends its four bits.
    // The index packs unroll the six inputs and four outputs, so that every
    // word's place is a constant of the code rather than a table read.
    template <int S, std::size_t... K, std::size_t... T>
    CORVANE_DES_ALWAYS_INLINE static void sboxStep(W* dst, const W* src, const std::uint64_t* key,
                                                   std::index_sequence<K...>, std::index_sequence<T...>) {
        const W x[6] = {(src[kE[6 * S + K] - 1] ^ Ops::broadcast(key[6 * S + K]))...};
        W y[4];
        Ops::template sbox<S>(x, y);
        ((dst[kPInverse[4 * S + T]] ^= y[T]), ...);
    }
    template <int S>
    CORVANE_DES_ALWAYS_INLINE static void sboxStep(W* dst, const W* src, const std::uint64_t* key) {
        sboxStep<S>(dst, src, key, std::make_index_sequence<6>{}, std::make_index_sequence<4>{});
    }

    // dst ^= f(src, key): one Feistel round, the halves' exchange left to
    // the caller (which alternates the roles of the two arrays).
    static void round(W* dst, const W* src, const std::uint64_t* key) {
        sboxStep<0>(dst, src, key);
        sboxStep<1>(dst, src, key);
        sboxStep<2>(dst, src, key);
        sboxStep<3>(dst, src, key);
        sboxStep<4>(dst, src, key);
        sboxStep<5>(dst, src, key);
        sboxStep<6>(dst, src, key);
        sboxStep<7>(dst, src, key);
    }

    struct State {
        W words[64];
        W left[32];
        W right[32];
    };

    // Decrypts the kWidth blocks of in into out (in place allowed).
    static void fullPass(const Des3DecryptSchedule& ks, const std::uint8_t* chain,
                         const std::uint8_t* in, std::uint8_t* out, State& s) {
        for (std::size_t j = 0; j < 64; ++j) s.words[j] = Ops::load(in + kStride * j);
        transpose(s.words);
        for (unsigned i = 0; i < 32; ++i) {
            s.left[i] = s.words[loadedBit(kIp[i])];
            s.right[i] = s.words[loadedBit(kIp[32 + i])];
        }
        // After each DES of the three the halves trade places (the final
        // permutation of one and the initial permutation of the next cancel,
        // the swap of the halves remains), so the array updated first
        // alternates: left, right, left.
        unsigned r = 0;
        for (unsigned stage = 0; stage < 3; ++stage) {
            W* first = stage == 1 ? s.right : s.left;
            W* second = stage == 1 ? s.left : s.right;
            for (unsigned pair = 0; pair < 8; ++pair) {
                round(first, second, ks.masks[r++]);
                round(second, first, ks.masks[r++]);
            }
        }
        // Preoutput R16 || L16 is right || left; the final permutation
        // sends its bit m to bit kIp[m - 1].
        for (unsigned m = 1; m <= 64; ++m)
            s.words[loadedBit(kIp[m - 1])] = m <= 32 ? s.right[m - 1] : s.left[m - 33];
        transpose(s.words);
        // Word j's blocks follow the 8 * kLanes bytes that start one block
        // earlier. Going down from the last word, each word's stores come
        // after every load that needs the ciphertext they replace.
        std::uint8_t first[kStride];
        if (chain != nullptr) {
            std::memcpy(first, chain, 8);
            std::memcpy(first + 8, in, kStride - 8);
        }
        for (std::size_t j = 64; j-- > 0;) {
            if (chain != nullptr) s.words[j] ^= Ops::load(j == 0 ? first : in + kStride * j - 8);
            Ops::store(out + kStride * j, s.words[j]);
        }
    }

    // The S-box circuits alone, for the test that checks them on every
    // input: x[k] is broadcast to every lane, y receives 4 words of kLanes
    // little-endian lanes each.
    static void evalSbox(int box, const std::uint64_t (&x)[6], std::uint8_t* y) {
        W in[6], out[4];
        for (int k = 0; k < 6; ++k) in[k] = Ops::broadcast(x[k]);
        switch (box) {
            case 0: Ops::template sbox<0>(in, out); break;
            case 1: Ops::template sbox<1>(in, out); break;
            case 2: Ops::template sbox<2>(in, out); break;
            case 3: Ops::template sbox<3>(in, out); break;
            case 4: Ops::template sbox<4>(in, out); break;
            case 5: Ops::template sbox<5>(in, out); break;
            case 6: Ops::template sbox<6>(in, out); break;
            default: Ops::template sbox<7>(in, out); break;
        }
        for (std::size_t t = 0; t < 4; ++t) Ops::store(y + t * kStride, out[t]);
    }

    static void pass(const Des3DecryptSchedule& ks, const std::uint8_t* chain, const std::uint8_t* in,
                     std::uint8_t* out, std::size_t blocks) {
        State s;
        if (blocks == kWidth) {
            fullPass(ks, chain, in, out, s);
        } else {
            // A short pass runs on a zero-padded copy; the dummy blocks'
            // results are dropped.
            std::uint8_t buffer[kWidth * 8] = {};
            std::memcpy(buffer, in, blocks * 8);
            fullPass(ks, chain, buffer, buffer, s);
            std::memcpy(out, buffer, blocks * 8);
            secure_zero(buffer, sizeof buffer);
        }
        secure_zero(&s, sizeof s);
    }
};

}  // namespace
}  // namespace corvane::des

#endif  // CORVANE_DES_BITSLICE_H
