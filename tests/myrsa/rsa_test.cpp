// The four RSA block operations against OpenSSL as an independent oracle,
// under keys that OpenSSL generates.
#include <Corvane/r_random.h>
#include <Corvane/rsa.h>
#include <gtest/gtest.h>
#include <openssl/rsa.h>

#include <cstring>

#include "tests/support/rsa/rsa_calls.h"
#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

using namespace corvane::test;

namespace {

class RsaAgainstOpenSsl : public ::testing::TestWithParam<unsigned> {};

// Every message length the block allows, from 0 to modulusLen - 11.
std::vector<Bytes> messagesOfEveryLength(std::size_t modulusLen, std::uint64_t seed) {
    Rng rng(seed);
    std::vector<Bytes> messages;
    for (std::size_t len = 0; len + 11 <= modulusLen; len++) messages.push_back(rng.bytes(len));
    return messages;
}

// The first `count` non-zero bytes that the pool hands out, one at a time,
// and how many bytes that took in all.
std::pair<Bytes, std::size_t> nonZeroDraws(R_RANDOM_STRUCT pool, std::size_t count) {
    Bytes out;
    std::size_t drawn = 0;
    while (out.size() < count) {
        std::uint8_t b = 0;
        QV_R_GenerateBytes(&b, 1, &pool);
        drawn++;
        if (b != 0) out.push_back(b);
    }
    return {out, drawn};
}

}  // namespace

TEST_P(RsaAgainstOpenSsl, OursEncryptsOpenSslDecrypts) {
    const RsaKey& key = cachedRsaKey(GetParam());
    R_RANDOM_STRUCT pool = seededTestPool(GetParam());
    for (const Bytes& m : messagesOfEveryLength(key.modulusLen(), 1)) {
        RsaResult c = callPublicEncrypt(key.publicKey, m, pool);
        ASSERT_EQ(c.status, 0) << "length " << m.size();
        ASSERT_EQ(c.out.size(), key.modulusLen());
        auto back = opensslPrivateDecrypt(key, c.out, RSA_PKCS1_PADDING);
        ASSERT_TRUE(back.has_value()) << "length " << m.size();
        EXPECT_EQ(toHex(*back), toHex(m));
    }
}

TEST_P(RsaAgainstOpenSsl, OpenSslEncryptsOursDecryptsInEitherPrimeOrder) {
    const RsaKey& key = cachedRsaKey(GetParam());
    const R_RSA_PRIVATE_KEY orders[] = {privateKeyWithPrimeOrder(key, true), privateKeyWithPrimeOrder(key, false)};
    for (const Bytes& m : messagesOfEveryLength(key.modulusLen(), 2)) {
        auto c = opensslPublicEncrypt(key, m, RSA_PKCS1_PADDING);
        ASSERT_TRUE(c.has_value());
        for (const auto& privateKey : orders) {
            RsaResult r = callPrivateDecrypt(privateKey, *c);
            ASSERT_EQ(r.status, 0) << "length " << m.size() << ", larger prime first: "
                                   << (&privateKey == &orders[0]);
            EXPECT_EQ(toHex(r.out), toHex(m));
        }
    }
}

TEST_P(RsaAgainstOpenSsl, OursPrivateEncryptEqualsOpenSslType1InEitherPrimeOrder) {
    const RsaKey& key = cachedRsaKey(GetParam());
    const R_RSA_PRIVATE_KEY orders[] = {privateKeyWithPrimeOrder(key, true), privateKeyWithPrimeOrder(key, false)};
    for (const Bytes& m : messagesOfEveryLength(key.modulusLen(), 3)) {
        // The type-1 block has no randomness: both sides must agree byte for byte.
        auto expected = opensslPrivateEncrypt(key, m, RSA_PKCS1_PADDING);
        ASSERT_TRUE(expected.has_value());
        for (const auto& privateKey : orders) {
            RsaResult s = callPrivateEncrypt(privateKey, m);
            ASSERT_EQ(s.status, 0) << "length " << m.size();
            EXPECT_EQ(toHex(s.out), toHex(*expected)) << "length " << m.size();
        }
        auto recovered = opensslPublicDecrypt(key, callPrivateEncrypt(key.privateKey, m).out, RSA_PKCS1_PADDING);
        ASSERT_TRUE(recovered.has_value());
        EXPECT_EQ(toHex(*recovered), toHex(m));
    }
}

TEST_P(RsaAgainstOpenSsl, OpenSslType1OursPublicDecrypts) {
    const RsaKey& key = cachedRsaKey(GetParam());
    for (const Bytes& m : messagesOfEveryLength(key.modulusLen(), 4)) {
        auto s = opensslPrivateEncrypt(key, m, RSA_PKCS1_PADDING);
        ASSERT_TRUE(s.has_value());
        RsaResult r = callPublicDecrypt(key.publicKey, *s);
        ASSERT_EQ(r.status, 0) << "length " << m.size();
        EXPECT_EQ(toHex(r.out), toHex(m));
    }
}

TEST_P(RsaAgainstOpenSsl, Type2BlockHoldsTheNonZeroPoolBytesInOrder) {
    const RsaKey& key = cachedRsaKey(GetParam());
    const std::size_t k = key.modulusLen();
    Rng rng(5);
    // Pool seeds whose stream has zero bytes among the first draws show that
    // zeros are drawn and dropped, not stored or replaced.
    int sawZero = 0;
    for (std::uint64_t seed = 0; seed < 40; seed++) {
        R_RANDOM_STRUCT pool = seededTestPool(seed);
        Bytes m = rng.bytes(rng.range(0, k - 11));
        std::size_t fillerLen = k - m.size() - 3;
        auto [filler, drawn] = nonZeroDraws(pool, fillerLen);
        if (drawn > fillerLen) sawZero++;

        R_RANDOM_STRUCT after = pool;
        RsaResult c = callPublicEncrypt(key.publicKey, m, pool);
        ASSERT_EQ(c.status, 0);
        auto block = opensslPrivateDecrypt(key, c.out, RSA_NO_PADDING);
        ASSERT_TRUE(block.has_value());
        Bytes expected = {0x00, 0x02};
        expected.insert(expected.end(), filler.begin(), filler.end());
        expected.push_back(0x00);
        expected.insert(expected.end(), m.begin(), m.end());
        EXPECT_EQ(toHex(*block), toHex(expected)) << "pool seed " << seed;

        // The pool has moved on by every byte drawn, dropped zeros included.
        Bytes skip(drawn);
        QV_R_GenerateBytes(skip.data(), static_cast<std::uint32_t>(drawn), &after);
        EXPECT_EQ(0, std::memcmp(&after, &pool, sizeof pool)) << "pool seed " << seed;
    }
    EXPECT_GT(sawZero, 0) << "no pool stream with a zero byte was tried";
}

INSTANTIATE_TEST_SUITE_P(KeySizes, RsaAgainstOpenSsl, ::testing::Values(512u, 768u, 1000u, 1024u),
                         [](const auto& p) { return std::to_string(p.param) + "bits"; });

TEST(Rsa, BitsBelowTheModulusLengthGiveShortBlocksOfTheLowOrderBytes) {
    // A 1024-bit modulus under bits = 512: 64-byte blocks, and each output is
    // the low-order 64 bytes of the full 128-byte result.
    const RsaKey& key = cachedRsaKey(1024);
    R_RSA_PUBLIC_KEY shortKey = key.publicKey;
    shortKey.bits = 512;
    R_RANDOM_STRUCT pool = seededTestPool(9);
    Bytes m = bytesOf("short block");
    auto [filler, drawn] = nonZeroDraws(pool, 64 - m.size() - 3);
    RsaResult c = callPublicEncrypt(shortKey, m, pool);
    ASSERT_EQ(c.status, 0);
    ASSERT_EQ(c.out.size(), 64u);

    // The 64-byte block, left-padded with zeros to the modulus length.
    Bytes block(128 - 64 + 2, 0);
    block.back() = 0x02;
    block.insert(block.end(), filler.begin(), filler.end());
    block.push_back(0x00);
    block.insert(block.end(), m.begin(), m.end());
    auto full = opensslPublicEncrypt(key, block, RSA_NO_PADDING);
    ASSERT_TRUE(full.has_value());
    EXPECT_EQ(toHex(c.out), toHex(Bytes(full->end() - 64, full->end())));

    // A 54-byte message no longer fits a 64-byte block.
    EXPECT_EQ(callPublicEncrypt(shortKey, Bytes(54, 1), pool).status, QV_STATUS_BAD_LENGTH);
    EXPECT_EQ(callPublicEncrypt(shortKey, Bytes(53, 1), pool).status, 0);
}
