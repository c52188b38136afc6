// Refusals of the RSA block operations: malformed blocks (made with OpenSSL's
// raw operation), bad lengths, inputs not below the modulus, unusable key
// sizes and an unseeded pool.
#include <Corvane/r_random.h>
#include <Corvane/rsa.h>
#include <gtest/gtest.h>
#include <openssl/rsa.h>

#include <cstring>
#include <functional>
#include <optional>

#include "tests/support/rsa/rsa_calls.h"
#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

using namespace corvane::test;

namespace {

// A block of the key's length: header bytes, then `fill` up to the end.
Bytes blockOf(std::size_t modulusLen, std::initializer_list<std::uint8_t> head, std::uint8_t fill) {
    Bytes b(head);
    b.resize(modulusLen, fill);
    return b;
}

struct BlockCase {
    const char* name;
    std::function<Bytes(std::size_t)> make;  // block for a modulus length
    std::int32_t status;
};

// Runs each case at 512 and 1024 bits: `makeInput` turns the block into the
// ciphertext whose raw image it is, `decrypt` is the operation under test. A
// case that should pass must yield the bytes after the block's first zero.
template <std::size_t N>
void expectBlockCases(const BlockCase (&cases)[N],
                      const std::function<std::optional<Bytes>(const RsaKey&, const Bytes&)>& makeInput,
                      const std::function<RsaResult(const RsaKey&, const Bytes&)>& decrypt) {
    for (unsigned bits : {512u, 1024u}) {
        const RsaKey& key = cachedRsaKey(bits);
        const std::size_t k = key.modulusLen();
        for (const auto& c : cases) {
            Bytes block = c.make(k);
            auto input = makeInput(key, block);
            ASSERT_TRUE(input.has_value()) << c.name;
            RsaResult r = decrypt(key, *input);
            EXPECT_EQ(r.status, c.status) << c.name << " at " << bits << " bits";
            if (c.status == 0) {
                std::size_t sep = 2;
                while (block[sep] != 0) sep++;
                EXPECT_EQ(toHex(r.out), toHex(Bytes(block.begin() + static_cast<long>(sep) + 1, block.end())));
            }
        }
    }
}

}  // namespace

TEST(RsaMalformed, PrivateDecryptChecksTheType2Block) {
    const BlockCase cases[] = {
        {"well formed, 8 filler bytes",
         [](std::size_t k) { auto b = blockOf(k, {0, 2}, 0x33); b[10] = 0; return b; }, 0},
        {"well formed, separator in the last byte (empty message)",
         [](std::size_t k) { auto b = blockOf(k, {0, 2}, 0x33); b[k - 1] = 0; return b; }, 0},
        {"7 filler bytes", [](std::size_t k) { auto b = blockOf(k, {0, 2}, 0x33); b[9] = 0; return b; },
         QV_STATUS_BAD_DATA},
        {"no filler", [](std::size_t k) { return blockOf(k, {0, 2, 0}, 0x33); }, QV_STATUS_BAD_DATA},
        {"no separator", [](std::size_t k) { return blockOf(k, {0, 2}, 0x33); }, QV_STATUS_BAD_DATA},
        {"type byte 1", [](std::size_t k) { auto b = blockOf(k, {0, 1}, 0xFF); b[20] = 0; return b; },
         QV_STATUS_BAD_DATA},
        {"type byte 0", [](std::size_t k) { auto b = blockOf(k, {0, 0}, 0x33); b[20] = 0; return b; },
         QV_STATUS_BAD_DATA},
        {"first byte not zero", [](std::size_t k) { auto b = blockOf(k, {1, 2}, 0x33); b[20] = 0; return b; },
         QV_STATUS_BAD_DATA},
    };
    expectBlockCases(
        cases, [](const RsaKey& key, const Bytes& block) { return opensslPublicEncrypt(key, block, RSA_NO_PADDING); },
        [](const RsaKey& key, const Bytes& input) { return callPrivateDecrypt(key.privateKey, input); });
}

TEST(RsaMalformed, PublicDecryptChecksTheType1Block) {
    const BlockCase cases[] = {
        {"well formed, 8 filler bytes",
         [](std::size_t k) { auto b = blockOf(k, {0, 1}, 0xFF); b[10] = 0; return b; }, 0},
        {"filler through the next-to-last byte, empty message",
         [](std::size_t k) { auto b = blockOf(k, {0, 1}, 0xFF); b[k - 1] = 0; return b; }, 0},
        {"filler byte other than 0xFF",
         [](std::size_t k) { auto b = blockOf(k, {0, 1}, 0xFF); b[5] = 0xFE; b[20] = 0; return b; },
         QV_STATUS_BAD_DATA},
        {"7 filler bytes", [](std::size_t k) { auto b = blockOf(k, {0, 1}, 0xFF); b[9] = 0; return b; },
         QV_STATUS_BAD_DATA},
        {"no separator", [](std::size_t k) { return blockOf(k, {0, 1}, 0xFF); }, QV_STATUS_BAD_DATA},
        {"type byte 2", [](std::size_t k) { auto b = blockOf(k, {0, 2}, 0xFF); b[20] = 0; return b; },
         QV_STATUS_BAD_DATA},
    };
    // The raw private operation makes an input whose public image is the block.
    expectBlockCases(
        cases, [](const RsaKey& key, const Bytes& block) { return opensslPrivateDecrypt(key, block, RSA_NO_PADDING); },
        [](const RsaKey& key, const Bytes& input) { return callPublicDecrypt(key.publicKey, input); });
}

TEST(RsaMalformed, EmptyMessageRoundTripsBothWays) {
    const RsaKey& key = cachedRsaKey(768);
    R_RANDOM_STRUCT pool = seededTestPool(1);
    RsaResult c = callPublicEncrypt(key.publicKey, {}, pool);
    ASSERT_EQ(c.status, 0);
    RsaResult m = callPrivateDecrypt(key.privateKey, c.out);
    EXPECT_EQ(m.status, 0);
    EXPECT_TRUE(m.out.empty());

    RsaResult s = callPrivateEncrypt(key.privateKey, {});
    ASSERT_EQ(s.status, 0);
    RsaResult r = callPublicDecrypt(key.publicKey, s.out);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.empty());
}

TEST(RsaMalformed, LengthsAreRefusedBeforeAnythingIsDrawnOrWritten) {
    const RsaKey& key = cachedRsaKey(1024);
    const std::uint32_t k = static_cast<std::uint32_t>(key.modulusLen());
    R_RANDOM_STRUCT pool = seededTestPool(2);
    const R_RANDOM_STRUCT poolBefore = pool;
    unsigned char in[4] = {1, 2, 3, 4};
    // Lengths whose sum with 11 wraps around 2^32 must not pass the test.
    for (std::uint32_t len : {k - 10, k, k + 1, 0xFFFFFFFFu - 10, 0xFFFFFFF5u, 0xFFFFFFFFu}) {
        unsigned char out[MAX_RSA_MODULUS_LEN];
        std::memset(out, 0xA5, sizeof out);
        std::uint32_t outLen = 7;
        EXPECT_EQ(QV_RSAPublicEncrypt(out, &outLen, in, len, &key.publicKey, &pool), QV_STATUS_BAD_LENGTH) << len;
        EXPECT_EQ(QV_RSAPrivateEncrypt(out, &outLen, in, len, &key.privateKey), QV_STATUS_BAD_LENGTH) << len;
        EXPECT_EQ(outLen, 7u);
        EXPECT_EQ(out[0], 0xA5);
        EXPECT_EQ(0, std::memcmp(&pool, &poolBefore, sizeof pool)) << "pool drawn for length " << len;
    }
    for (std::uint32_t len : {k + 1, 0xFFFFFFFFu}) {
        unsigned char out[MAX_RSA_MODULUS_LEN];
        std::uint32_t outLen = 7;
        EXPECT_EQ(QV_RSAPublicDecrypt(out, &outLen, in, len, &key.publicKey), QV_STATUS_BAD_LENGTH) << len;
        EXPECT_EQ(QV_RSAPrivateDecrypt(out, &outLen, in, len, &key.privateKey), QV_STATUS_BAD_LENGTH) << len;
        EXPECT_EQ(outLen, 7u);
    }
}

TEST(RsaMalformed, ShorterDecryptionInputIsReadAsANumber) {
    // Find a type-1 input whose first byte is zero; without that byte it is
    // the same number and must decrypt the same.
    const RsaKey& key = cachedRsaKey(512);
    const std::size_t k = key.modulusLen();
    for (unsigned i = 0; i < 4000; i++) {
        Bytes m = {static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        auto s = opensslPrivateEncrypt(key, m, RSA_PKCS1_PADDING);
        ASSERT_TRUE(s.has_value());
        if ((*s)[0] != 0) continue;
        RsaResult r = callPublicDecrypt(key.publicKey, Bytes(s->begin() + 1, s->end()));
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(toHex(r.out), toHex(m));
        return;
    }
    GTEST_SKIP() << "no signature with a leading zero byte among the tries (modulus " << k << " bytes)";
}

TEST(RsaMalformed, InputNotBelowTheModulusIsBadData) {
    const RsaKey& key = cachedRsaKey(1024);
    Bytes n = key.parts.n;
    Bytes nPlusOne = n;
    for (std::size_t i = nPlusOne.size(); i-- > 0;)
        if (++nPlusOne[i] != 0) break;
    for (const Bytes& input : {n, nPlusOne, Bytes(n.size(), 0xFF)}) {
        EXPECT_EQ(callPublicDecrypt(key.publicKey, input).status, QV_STATUS_BAD_DATA);
        EXPECT_EQ(callPrivateDecrypt(key.privateKey, input).status, QV_STATUS_BAD_DATA);
    }

    // bits overstating a 512-bit modulus: a 128-byte block exceeds the
    // modulus in digits the modulus does not have, and must still be refused.
    const RsaKey& small = cachedRsaKey(512);
    R_RSA_PUBLIC_KEY overstated = small.publicKey;
    overstated.bits = 1024;
    R_RSA_PRIVATE_KEY overstatedPrivate = small.privateKey;
    overstatedPrivate.bits = 1024;
    R_RANDOM_STRUCT pool = seededTestPool(3);
    EXPECT_EQ(callPublicEncrypt(overstated, bytesOf("m"), pool).status, QV_STATUS_BAD_DATA);
    EXPECT_EQ(callPrivateEncrypt(overstatedPrivate, bytesOf("m")).status, QV_STATUS_BAD_DATA);
    EXPECT_EQ(callPublicDecrypt(overstated, Bytes(128, 0x7F)).status, QV_STATUS_BAD_DATA);
    EXPECT_EQ(callPrivateDecrypt(overstatedPrivate, Bytes(128, 0x7F)).status, QV_STATUS_BAD_DATA);
}

TEST(RsaMalformed, KeySizesOutsideOneTo1024BitsAreRefused) {
    const RsaKey& key = cachedRsaKey(1024);
    R_RANDOM_STRUCT pool = seededTestPool(4);
    const R_RANDOM_STRUCT poolBefore = pool;
    for (std::uint16_t bits : {std::uint16_t{0}, std::uint16_t{1025}, std::uint16_t{2048}, std::uint16_t{0xFFFF}}) {
        R_RSA_PUBLIC_KEY pub = key.publicKey;
        R_RSA_PRIVATE_KEY priv = key.privateKey;
        pub.bits = bits;
        priv.bits = bits;
        unsigned char in[1] = {0};
        unsigned char out[MAX_RSA_MODULUS_LEN];
        std::memset(out, 0xA5, sizeof out);
        std::uint32_t outLen = 7;
        EXPECT_EQ(QV_RSAPublicEncrypt(out, &outLen, in, 0, &pub, &pool), QV_STATUS_BAD_LENGTH) << bits;
        EXPECT_EQ(QV_RSAPrivateEncrypt(out, &outLen, in, 0, &priv), QV_STATUS_BAD_LENGTH) << bits;
        EXPECT_EQ(QV_RSAPublicDecrypt(out, &outLen, in, 1, &pub), QV_STATUS_BAD_LENGTH) << bits;
        EXPECT_EQ(QV_RSAPrivateDecrypt(out, &outLen, in, 1, &priv), QV_STATUS_BAD_LENGTH) << bits;
        EXPECT_EQ(outLen, 7u);
        EXPECT_EQ(out[0], 0xA5);
        EXPECT_EQ(0, std::memcmp(&pool, &poolBefore, sizeof pool));
    }
}

TEST(RsaMalformed, UnseededPoolIsRefusedAndNothingIsDrawn) {
    const RsaKey& key = cachedRsaKey(512);
    R_RANDOM_STRUCT pool{};
    QV_R_RandomInit(&pool);
    Bytes seed(255, 9);
    QV_R_RandomUpdate(&pool, seed.data(), 255);
    const R_RANDOM_STRUCT before = pool;
    unsigned char in[3] = {1, 2, 3};
    unsigned char out[MAX_RSA_MODULUS_LEN];
    std::memset(out, 0xA5, sizeof out);
    std::uint32_t outLen = 7;
    EXPECT_EQ(QV_RSAPublicEncrypt(out, &outLen, in, 3, &key.publicKey, &pool), QV_STATUS_NOT_SEEDED);
    EXPECT_EQ(0, std::memcmp(&pool, &before, sizeof pool));
    EXPECT_EQ(outLen, 7u);
    EXPECT_EQ(out[0], 0xA5);
    // The length is checked first.
    EXPECT_EQ(QV_RSAPublicEncrypt(out, &outLen, in, 54, &key.publicKey, &pool), QV_STATUS_BAD_LENGTH);
}
