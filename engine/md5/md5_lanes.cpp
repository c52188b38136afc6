#include "engine/md5/md5_lanes.h"

#include <cstdint>
#include <utility>

#include <Corvane/md5.h>
#include "engine/cpu/cpu.h"
#include "platform/secure_zero.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define CORVANE_MD5_LANES_AVX512 1
#include <immintrin.h>

// GCC 12 reports the deliberately undefined source vector inside its own
// AVX-512 intrinsics (_mm512_undefined_epi32) once they are inlined here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#else
#define CORVANE_MD5_LANES_AVX512 0
#endif

namespace corvane::md5_lanes {

namespace {

void digestOne(const unsigned char* message, unsigned char* digest) {
    MD5_CTX context;
    QvMD5Init(&context);
    QvMD5Update(&context, message, 16);
    QvMD5Final(digest, &context);  // also wipes the context
}

#if CORVANE_MD5_LANES_AVX512

// The 64 steps' additive constants, rotations and message words.
constexpr std::uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kRotations[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
constexpr std::uint32_t kInitial[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

constexpr std::size_t messageWord(std::size_t step) {
    return step < 16 ? step : step < 32 ? (5 * step + 1) % 16 : step < 48 ? (3 * step + 5) % 16 : (7 * step) % 16;
}

// The rotation is an immediate operand: one instantiation per step.
template <std::size_t Step>
__attribute__((target("avx512f"), always_inline)) inline void step(__m512i& a, __m512i& b, __m512i& c, __m512i& d,
                                                                   const __m512i* words) {
    constexpr std::size_t round = Step / 16;
    // The rounds' functions as three-input truth tables of (b, c, d):
    // F = b ? c : d, G = d ? b : c, H = b ^ c ^ d, I = c ^ (b | ~d).
    constexpr int table = round == 0 ? 0xca : round == 1 ? 0xe4 : round == 2 ? 0x96 : 0x39;
    const __m512i f = _mm512_ternarylogic_epi32(b, c, d, table);
    __m512i t = _mm512_add_epi32(_mm512_add_epi32(a, f),
                                 _mm512_add_epi32(_mm512_set1_epi32(static_cast<int>(kSines[Step])),
                                                  words[messageWord(Step)]));
    // A named constant, so that unoptimised builds too see an immediate.
    constexpr int rotation = kRotations[round][Step % 4];
    t = _mm512_add_epi32(b, _mm512_rol_epi32(t, rotation));
    a = d;
    d = c;
    c = b;
    b = t;
}

template <std::size_t... Steps>
__attribute__((target("avx512f"), always_inline)) inline void allSteps(__m512i& a, __m512i& b, __m512i& c,
                                                                       __m512i& d, const __m512i* words,
                                                                       std::index_sequence<Steps...>) {
    (step<Steps>(a, b, c, d, words), ...);
}

// The lanes past count hash zeros; their digests are not stored.
__attribute__((target("avx512f"))) void digestsInLanes(const unsigned char (*messages)[16], std::size_t count,
                                                       unsigned char (*digests)[16]) {
    // The sixteen words of each lane's block: the message's four words
    // (little-endian bytes), then the padding byte 0x80, zeros, and the
    // length in bits, 128.
    alignas(64) std::uint32_t words[4][kMaxMessages] = {};
    for (std::size_t i = 0; i < count; i++)
        for (std::size_t w = 0; w < 4; w++)
            words[w][i] = static_cast<std::uint32_t>(messages[i][4 * w]) |
                          static_cast<std::uint32_t>(messages[i][4 * w + 1]) << 8 |
                          static_cast<std::uint32_t>(messages[i][4 * w + 2]) << 16 |
                          static_cast<std::uint32_t>(messages[i][4 * w + 3]) << 24;
    __m512i block[16];
    for (std::size_t w = 0; w < 4; w++) block[w] = _mm512_load_si512(words[w]);
    block[4] = _mm512_set1_epi32(0x80);
    for (std::size_t w = 5; w < 16; w++) block[w] = _mm512_setzero_si512();
    block[14] = _mm512_set1_epi32(128);

    __m512i a = _mm512_set1_epi32(static_cast<int>(kInitial[0])), b = _mm512_set1_epi32(static_cast<int>(kInitial[1]));
    __m512i c = _mm512_set1_epi32(static_cast<int>(kInitial[2])), d = _mm512_set1_epi32(static_cast<int>(kInitial[3]));
    allSteps(a, b, c, d, block, std::make_index_sequence<64>{});
    _mm512_store_si512(words[0], _mm512_add_epi32(a, _mm512_set1_epi32(static_cast<int>(kInitial[0]))));
    _mm512_store_si512(words[1], _mm512_add_epi32(b, _mm512_set1_epi32(static_cast<int>(kInitial[1]))));
    _mm512_store_si512(words[2], _mm512_add_epi32(c, _mm512_set1_epi32(static_cast<int>(kInitial[2]))));
    _mm512_store_si512(words[3], _mm512_add_epi32(d, _mm512_set1_epi32(static_cast<int>(kInitial[3]))));
    for (std::size_t i = 0; i < count; i++)
        for (std::size_t w = 0; w < 4; w++)
            for (std::size_t k = 0; k < 4; k++)
                digests[i][4 * w + k] = static_cast<unsigned char>(words[w][i] >> (8 * k));
    // The messages are the pool's secret states.
    secure_zero(words, sizeof words);
    secure_zero(block, sizeof block);
}

#endif

}  // namespace

void digestsOf(const unsigned char (*messages)[16], std::size_t count, unsigned char (*digests)[16]) noexcept {
    if (count > kMaxMessages) count = kMaxMessages;
#if CORVANE_MD5_LANES_AVX512
    if (count >= 2 && cpu_features().avx512f) {
        digestsInLanes(messages, count, digests);
        return;
    }
#endif
    for (std::size_t i = 0; i < count; i++) digestOne(messages[i], digests[i]);
}

}  // namespace corvane::md5_lanes
