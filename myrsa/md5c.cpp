// MD5 message digest, RFC 1321.
#include <Corvane/md5.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/secure_zero.h"

static_assert(sizeof(MD5_CTX) == 88, "MD5_CTX must stay 88 bytes");
static_assert(offsetof(MD5_CTX, state) == 0);
static_assert(offsetof(MD5_CTX, count) == 16);
static_assert(offsetof(MD5_CTX, buffer) == 24);

namespace {

// The message padding: 0x80 followed by zeros.
const unsigned char PADDING[64] = {0x80};

// Writes len/4 words as bytes, least significant byte first.
void Encode(unsigned char* output, const std::uint32_t* input, unsigned int len) {
    for (unsigned int i = 0, j = 0; j < len; i++, j += 4) {
        output[j] = static_cast<unsigned char>(input[i] & 0xff);
        output[j + 1] = static_cast<unsigned char>((input[i] >> 8) & 0xff);
        output[j + 2] = static_cast<unsigned char>((input[i] >> 16) & 0xff);
        output[j + 3] = static_cast<unsigned char>((input[i] >> 24) & 0xff);
    }
}

// Reads len bytes into len/4 words, least significant byte first. Written
// byte by byte so that it does not depend on the host's endianness; compilers
// turn it into plain loads on little-endian hosts.
void Decode(std::uint32_t* output, const unsigned char* input, unsigned int len) {
    for (unsigned int i = 0, j = 0; j < len; i++, j += 4) {
        output[i] = static_cast<std::uint32_t>(input[j]) |
                    (static_cast<std::uint32_t>(input[j + 1]) << 8) |
                    (static_cast<std::uint32_t>(input[j + 2]) << 16) |
                    (static_cast<std::uint32_t>(input[j + 3]) << 24);
    }
}

inline std::uint32_t rotl(std::uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

// The four auxiliary functions. G and I are written in forms that need one
// operation fewer than the textbook ones but give the same values.
inline std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return z ^ (x & (y ^ z)); }
inline std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return (x & z) + (y & ~z); }
inline std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ y ^ z; }
inline std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (x | ~z); }

#define MD5_STEP(f, a, b, c, d, x, s, ac) \
    (a) += f((b), (c), (d)) + (x) + static_cast<std::uint32_t>(ac); \
    (a) = rotl((a), (s)) + (b)

// Compresses `blocks` consecutive 64-byte blocks into state. The decoded
// words are message material, so they are wiped before returning; doing the
// wipe once per call rather than once per block keeps bulk hashing fast.
void MD5Transform(std::uint32_t state[4], const unsigned char* block, std::size_t blocks) {
    std::uint32_t x[16];
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; blocks > 0; blocks--, block += 64) {
        Decode(x, block, 64);
        const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

        // Round 1
        MD5_STEP(F, a, b, c, d, x[0], 7, 0xd76aa478);
        MD5_STEP(F, d, a, b, c, x[1], 12, 0xe8c7b756);
        MD5_STEP(F, c, d, a, b, x[2], 17, 0x242070db);
        MD5_STEP(F, b, c, d, a, x[3], 22, 0xc1bdceee);
        MD5_STEP(F, a, b, c, d, x[4], 7, 0xf57c0faf);
        MD5_STEP(F, d, a, b, c, x[5], 12, 0x4787c62a);
        MD5_STEP(F, c, d, a, b, x[6], 17, 0xa8304613);
        MD5_STEP(F, b, c, d, a, x[7], 22, 0xfd469501);
        MD5_STEP(F, a, b, c, d, x[8], 7, 0x698098d8);
        MD5_STEP(F, d, a, b, c, x[9], 12, 0x8b44f7af);
        MD5_STEP(F, c, d, a, b, x[10], 17, 0xffff5bb1);
        MD5_STEP(F, b, c, d, a, x[11], 22, 0x895cd7be);
        MD5_STEP(F, a, b, c, d, x[12], 7, 0x6b901122);
        MD5_STEP(F, d, a, b, c, x[13], 12, 0xfd987193);
        MD5_STEP(F, c, d, a, b, x[14], 17, 0xa679438e);
        MD5_STEP(F, b, c, d, a, x[15], 22, 0x49b40821);

        // Round 2
        MD5_STEP(G, a, b, c, d, x[1], 5, 0xf61e2562);
        MD5_STEP(G, d, a, b, c, x[6], 9, 0xc040b340);
        MD5_STEP(G, c, d, a, b, x[11], 14, 0x265e5a51);
        MD5_STEP(G, b, c, d, a, x[0], 20, 0xe9b6c7aa);
        MD5_STEP(G, a, b, c, d, x[5], 5, 0xd62f105d);
        MD5_STEP(G, d, a, b, c, x[10], 9, 0x02441453);
        MD5_STEP(G, c, d, a, b, x[15], 14, 0xd8a1e681);
        MD5_STEP(G, b, c, d, a, x[4], 20, 0xe7d3fbc8);
        MD5_STEP(G, a, b, c, d, x[9], 5, 0x21e1cde6);
        MD5_STEP(G, d, a, b, c, x[14], 9, 0xc33707d6);
        MD5_STEP(G, c, d, a, b, x[3], 14, 0xf4d50d87);
        MD5_STEP(G, b, c, d, a, x[8], 20, 0x455a14ed);
        MD5_STEP(G, a, b, c, d, x[13], 5, 0xa9e3e905);
        MD5_STEP(G, d, a, b, c, x[2], 9, 0xfcefa3f8);
        MD5_STEP(G, c, d, a, b, x[7], 14, 0x676f02d9);
        MD5_STEP(G, b, c, d, a, x[12], 20, 0x8d2a4c8a);

        // Round 3
        MD5_STEP(H, a, b, c, d, x[5], 4, 0xfffa3942);
        MD5_STEP(H, d, a, b, c, x[8], 11, 0x8771f681);
        MD5_STEP(H, c, d, a, b, x[11], 16, 0x6d9d6122);
        MD5_STEP(H, b, c, d, a, x[14], 23, 0xfde5380c);
        MD5_STEP(H, a, b, c, d, x[1], 4, 0xa4beea44);
        MD5_STEP(H, d, a, b, c, x[4], 11, 0x4bdecfa9);
        MD5_STEP(H, c, d, a, b, x[7], 16, 0xf6bb4b60);
        MD5_STEP(H, b, c, d, a, x[10], 23, 0xbebfbc70);
        MD5_STEP(H, a, b, c, d, x[13], 4, 0x289b7ec6);
        MD5_STEP(H, d, a, b, c, x[0], 11, 0xeaa127fa);
        MD5_STEP(H, c, d, a, b, x[3], 16, 0xd4ef3085);
        MD5_STEP(H, b, c, d, a, x[6], 23, 0x04881d05);
        MD5_STEP(H, a, b, c, d, x[9], 4, 0xd9d4d039);
        MD5_STEP(H, d, a, b, c, x[12], 11, 0xe6db99e5);
        MD5_STEP(H, c, d, a, b, x[15], 16, 0x1fa27cf8);
        MD5_STEP(H, b, c, d, a, x[2], 23, 0xc4ac5665);

        // Round 4
        MD5_STEP(I, a, b, c, d, x[0], 6, 0xf4292244);
        MD5_STEP(I, d, a, b, c, x[7], 10, 0x432aff97);
        MD5_STEP(I, c, d, a, b, x[14], 15, 0xab9423a7);
        MD5_STEP(I, b, c, d, a, x[5], 21, 0xfc93a039);
        MD5_STEP(I, a, b, c, d, x[12], 6, 0x655b59c3);
        MD5_STEP(I, d, a, b, c, x[3], 10, 0x8f0ccc92);
        MD5_STEP(I, c, d, a, b, x[10], 15, 0xffeff47d);
        MD5_STEP(I, b, c, d, a, x[1], 21, 0x85845dd1);
        MD5_STEP(I, a, b, c, d, x[8], 6, 0x6fa87e4f);
        MD5_STEP(I, d, a, b, c, x[15], 10, 0xfe2ce6e0);
        MD5_STEP(I, c, d, a, b, x[6], 15, 0xa3014314);
        MD5_STEP(I, b, c, d, a, x[13], 21, 0x4e0811a1);
        MD5_STEP(I, a, b, c, d, x[4], 6, 0xf7537e82);
        MD5_STEP(I, d, a, b, c, x[11], 10, 0xbd3af235);
        MD5_STEP(I, c, d, a, b, x[2], 15, 0x2ad7d2bb);
        MD5_STEP(I, b, c, d, a, x[9], 21, 0xeb86d391);

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
    corvane::secure_zero(x, sizeof x);
}

#undef MD5_STEP

}  // namespace

extern "C" {

CORVANE_EXPORT void QvMD5Init(MD5_CTX* context) {
    context->count[0] = context->count[1] = 0;
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
}

CORVANE_EXPORT void QvMD5Update(MD5_CTX* context, const unsigned char* input, uint32_t inputLen) {
    // Bytes already buffered, from the bit count before this call.
    unsigned int index = (context->count[0] >> 3) & 0x3F;

    // Update the 64-bit bit count (low word first, with carry).
    if ((context->count[0] += (inputLen << 3)) < (inputLen << 3)) context->count[1]++;
    context->count[1] += (inputLen >> 29);

    unsigned int partLen = 64 - index;
    unsigned int i = 0;
    if (inputLen >= partLen) {
        std::memcpy(&context->buffer[index], input, partLen);
        MD5Transform(context->state, context->buffer, 1);
        // Whole blocks go straight from the caller's input, without copying.
        std::size_t wholeBlocks = (inputLen - partLen) / 64;
        if (wholeBlocks > 0) MD5Transform(context->state, &input[partLen], wholeBlocks);
        i = partLen + static_cast<unsigned int>(wholeBlocks * 64);
        index = 0;
    }
    if (inputLen > i) std::memcpy(&context->buffer[index], &input[i], inputLen - i);
}

CORVANE_EXPORT void QvMD5Final(unsigned char digest[16], MD5_CTX* context) {
    unsigned char bits[8];
    Encode(bits, context->count, 8);

    // Pad out to 56 mod 64, then append the length.
    unsigned int index = (context->count[0] >> 3) & 0x3f;
    unsigned int padLen = (index < 56) ? (56 - index) : (120 - index);
    QvMD5Update(context, PADDING, padLen);
    QvMD5Update(context, bits, 8);

    Encode(digest, context->state, 16);
    corvane::secure_zero(context, sizeof *context);
}

}  // extern "C"
