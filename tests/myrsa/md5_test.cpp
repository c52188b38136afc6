#include <Corvane/md5.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <functional>

#include "tests/support/test_support.h"

using namespace corvane::test;

namespace {

using Digest = std::array<std::uint8_t, 16>;

// Feeds the message in the pieces that `nextPiece` chooses (it returns the
// length of the next piece given the bytes left).
Digest digestInPieces(const Bytes& m, const std::function<std::size_t(std::size_t)>& nextPiece) {
    MD5_CTX ctx;
    QvMD5Init(&ctx);
    std::size_t pos = 0;
    while (pos < m.size()) {
        std::size_t n = std::min(nextPiece(m.size() - pos), m.size() - pos);
        QvMD5Update(&ctx, m.data() + pos, static_cast<uint32_t>(n));
        pos += n;
    }
    Digest d;
    QvMD5Final(d.data(), &ctx);
    return d;
}

Digest digestOneShot(const Bytes& m) {
    return digestInPieces(m, [](std::size_t left) { return left; });
}

Digest opensslMd5(const Bytes& m) {
    Digest d;
    unsigned int len = 0;
    EXPECT_EQ(EVP_Digest(m.data(), m.size(), d.data(), &len, EVP_md5(), nullptr), 1);
    return d;
}

// One body for every way of streaming a message: one shot, byte at a time,
// fixed pieces around the block size, every two-way split, random splits,
// and zero-length updates in between.
void expectEveryStreamingAgrees(const Bytes& m, const Digest& expected, Rng& rng) {
    EXPECT_EQ(digestOneShot(m), expected);
    EXPECT_EQ(digestInPieces(m, [](std::size_t) { return std::size_t{1}; }), expected);
    for (std::size_t piece : {63u, 64u, 65u, 127u, 128u})
        EXPECT_EQ(digestInPieces(m, [piece](std::size_t) { return piece; }), expected) << piece;
    for (std::size_t split = 0; split <= m.size() && split < 200; split++) {
        MD5_CTX ctx;
        QvMD5Init(&ctx);
        QvMD5Update(&ctx, m.data(), static_cast<uint32_t>(split));
        QvMD5Update(&ctx, nullptr, 0);
        QvMD5Update(&ctx, m.data() + split, static_cast<uint32_t>(m.size() - split));
        Digest d;
        QvMD5Final(d.data(), &ctx);
        EXPECT_EQ(d, expected) << "split at " << split;
    }
    EXPECT_EQ(digestInPieces(m, [&rng](std::size_t left) { return rng.range(0, left); }), expected);
}

}  // namespace

TEST(Md5, Rfc1321SuiteInEveryStreaming) {
    Rng rng(1321);
    auto records = readVecFile(ourVector("md5_rfc1321.vec"));
    ASSERT_EQ(records.size(), 7u);
    for (const auto& r : records) {
        Bytes m = bytesOf(r.at("message"));
        Bytes expected = fromHex(r.at("digest"));
        Digest d;
        std::copy(expected.begin(), expected.end(), d.begin());
        SCOPED_TRACE(r.at("message"));
        expectEveryStreamingAgrees(m, d, rng);
    }
}

TEST(Md5, PaddingBoundariesAndLongMessagesMatchOpenSsl) {
    Rng rng(55);
    // 55 bytes pad with a single 0x80; 56 needs a whole extra block; 64 is one exact block.
    for (std::size_t len : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u, 4096u}) {
        Bytes m = rng.bytes(len);
        SCOPED_TRACE(len);
        expectEveryStreamingAgrees(m, opensslMd5(m), rng);
    }
}

TEST(Md5, RandomLengthsMatchOpenSsl) {
    Rng rng(2024);
    unsigned rounds = 300 * longTestFactor();
    for (unsigned i = 0; i < rounds; i++) {
        Bytes m = rng.bytes(rng.range(0, 10000));
        ASSERT_EQ(digestInPieces(m, [&rng](std::size_t left) { return rng.range(1, left); }), opensslMd5(m))
            << "length " << m.size();
    }
}

TEST(Md5, FinalWipesTheWholeContext) {
    MD5_CTX ctx;
    QvMD5Init(&ctx);
    Bytes m(100, 0x5a);
    QvMD5Update(&ctx, m.data(), 100);
    Digest d;
    QvMD5Final(d.data(), &ctx);
    const auto* raw = reinterpret_cast<const unsigned char*>(&ctx);
    for (std::size_t i = 0; i < sizeof ctx; i++) ASSERT_EQ(raw[i], 0) << "byte " << i;
}

TEST(Md5, BitCountCarriesIntoTheHighWord) {
    // Start from a context that claims 2^32 - 8 bits (just under 2^29 bytes)
    // hashed, with an empty buffer; 8 more bytes push the low word over.
    MD5_CTX ctx;
    QvMD5Init(&ctx);
    ctx.count[0] = 0xFFFFFFC0u;  // multiple of 512 bits: buffer empty
    ctx.count[1] = 0;
    Bytes eight(8, 1);
    QvMD5Update(&ctx, eight.data(), 8);
    EXPECT_EQ(ctx.count[0], 0x00000000u);
    EXPECT_EQ(ctx.count[1], 1u);

    // Lengths of 2^29 bytes or more add their top bits to the high word
    // directly; a zero-length update changes nothing.
    MD5_CTX big;
    QvMD5Init(&big);
    QvMD5Update(&big, nullptr, 0);
    EXPECT_EQ(big.count[0], 0u);
    EXPECT_EQ(big.count[1], 0u);
}

TEST(Md5, RecordLayoutIsPinned) {
    EXPECT_EQ(sizeof(MD5_CTX), 88u);
    EXPECT_EQ(offsetof(MD5_CTX, state), 0u);
    EXPECT_EQ(offsetof(MD5_CTX, count), 16u);
    EXPECT_EQ(offsetof(MD5_CTX, buffer), 24u);
}
