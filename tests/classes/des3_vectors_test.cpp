// QVDes3 and the cipher adapter against answers computed elsewhere: NIST's
// published triple-DES CBC tests (known answers, multi-block messages, Monte
// Carlo) and OpenSSL's own DES-EDE3-CBC on random data, keys and IVs.
#include <Corvane/QVDes3.h>
#include <gtest/gtest.h>

#include <array>
#include <bit>

#include "platform/CommonCrypto.h"
#include "tests/support/des3_support.h"
#include "tests/support/nn_testing.h"
#include "tests/support/test_support.h"

using namespace corvane;
using namespace corvane::test;

namespace {

const char* const kCavpDir = "nist-cavp-tdes/";

std::optional<std::vector<CavpRecord>> cavpFile(const std::string& name) {
    auto path = publishedVector(kCavpDir + name);
    if (!path) return std::nullopt;
    return readCavpFile(*path);
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The block that a padded encryption would append to a whole-block
// message: eight 0x08 bytes chained on the message's last ciphertext block.
Bytes paddingBlockAfter(const Bytes& key, const Bytes& ciphertext) {
    Bytes block(ciphertext.end() - 8, ciphertext.end());
    for (auto& b : block) b ^= 0x08;
    return *opensslDes3(true, key, {}, block, false);
}

// Encryption: our padded output is the published ciphertext followed by one
// padding block. Decryption: the published ciphertext with a padding block
// appended gives the published plaintext.
void checkCavpRecord(const CavpRecord& r) {
    SCOPED_TRACE(r.section + " COUNT " + r.fields.at("COUNT"));
    const Bytes key = r.key(), iv = r.hex("IV"), plain = r.hex("PLAINTEXT"), cipher = r.hex("CIPHERTEXT");
    ASSERT_EQ(plain.size(), cipher.size());
    std::int32_t error = 1;
    if (r.section == "ENCRYPT") {
        Ref<NSData> out = QVDes3::createDes3EncryptData(dataOf(plain).get(), dataOf(key).get(), dataOf(iv).get(), &error);
        ASSERT_TRUE(out);
        EXPECT_EQ(error, 0);
        Bytes got = bytesOfData(out.get());
        ASSERT_EQ(got.size(), cipher.size() + 8);
        got.resize(cipher.size());
        EXPECT_EQ(toHex(got), toHex(cipher));
    } else {
        const Bytes padded = concat(cipher, paddingBlockAfter(key, cipher));
        Ref<NSData> out = QVDes3::createDes3DecryptData(dataOf(padded).get(), dataOf(key).get(), dataOf(iv).get(), &error);
        ASSERT_TRUE(out);
        EXPECT_EQ(error, 0);
        EXPECT_EQ(toHex(bytesOfData(out.get())), toHex(plain));
    }
}

using Block = std::array<std::uint8_t, 8>;

Block blockOf(const Bytes& b) {
    Block out{};
    std::copy(b.begin(), b.end(), out.begin());
    return out;
}

// One single-block CBC step through the adapter.
Block cbcStep(CCOperation op, const Bytes& key, const Block& iv, const Block& in) {
    Block out{};
    std::size_t moved = 0;
    CCCryptorStatus status = CCCrypt(op, kCCAlgorithm3DES, 0, key.data(), key.size(), iv.data(), in.data(), 8,
                                     out.data(), 8, &moved);
    if (status != kCCSuccess || moved != 8) ADD_FAILURE() << "CCCrypt status " << status;
    return out;
}

std::uint8_t withOddParity(std::uint8_t b) {
    b &= 0xFE;
    return static_cast<std::uint8_t>(b | (std::popcount(b) % 2 == 0 ? 1 : 0));
}

struct MonteCarloState {
    Bytes key;  // KEY1 || KEY2 || KEY3
    Block iv;
    Block text;  // plaintext when encrypting, ciphertext when decrypting
};

// One round of the TDES CBC Monte Carlo test: 10,000 chained single-block
// operations. Returns the round's output and leaves in `next` the state the
// following round starts from.
Block monteCarloRound(bool encrypt, const MonteCarloState& start, MonteCarloState& next) {
    Block cv = start.iv, in = start.text;
    std::array<Block, 3> last{};  // outputs 9999, 9998, 9997
    for (int j = 0; j < 10000; j++) {
        Block out = cbcStep(encrypt ? kCCEncrypt : kCCDecrypt, start.key, cv, in);
        last = {out, last[0], last[1]};
        if (encrypt) {
            // P[j+1] is the previous chaining value: IV for j = 0, else C[j-1].
            in = cv;
            cv = out;
        } else {
            // C[j+1] = P[j]; the chaining value is the block just decrypted.
            cv = in;
            in = out;
        }
    }
    const bool twoKey = std::equal(start.key.begin(), start.key.begin() + 8, start.key.begin() + 16);
    next.key = start.key;
    for (int k = 0; k < 3; k++) {
        for (int i = 0; i < 8; i++) {
            auto& b = next.key[static_cast<std::size_t>(8 * k + i)];
            b = withOddParity(static_cast<std::uint8_t>(b ^ last[static_cast<std::size_t>(k)][static_cast<std::size_t>(i)]));
        }
    }
    if (twoKey) std::copy(next.key.begin(), next.key.begin() + 8, next.key.begin() + 16);
    next.iv = encrypt ? last[0] : cv;
    next.text = encrypt ? last[1] : last[0];
    return last[0];
}

void checkMonteCarloFile(const std::string& name) {
    auto records = cavpFile(name);
    if (!records) GTEST_SKIP() << publishedVectorAbsent(std::string(kCavpDir) + name);
    ASSERT_EQ(records->size(), 800u);
    // Each round starts from its published state, so any subset of rounds
    // can be checked; the long run checks all 400 each way. A round is 10,000
    // one-block calls, each a whole pass of the bitsliced kernel, which the
    // sanitizers' unoptimised builds make a minute's work per file: there
    // fewer rounds, scaled down as the other randomised volumes are.
    const std::size_t stride = longTestFactor() > 1 ? 1 : static_cast<std::size_t>(10 / nnVolumeScale());
    int checked = 0;
    for (std::size_t i = 0; i < records->size(); i += stride) {
        const CavpRecord& r = (*records)[i];
        const bool encrypt = r.section == "ENCRYPT";
        SCOPED_TRACE(name + " " + r.section + " COUNT " + r.fields.at("COUNT"));
        const char* inName = encrypt ? "PLAINTEXT" : "CIPHERTEXT";
        const char* outName = encrypt ? "CIPHERTEXT" : "PLAINTEXT";
        MonteCarloState start{r.key(), blockOf(r.hex("IV")), blockOf(r.hex(inName))}, next;
        Block out = monteCarloRound(encrypt, start, next);
        EXPECT_EQ(toHex(Bytes(out.begin(), out.end())), toHex(r.hex(outName)));
        if (i + 1 < records->size() && (*records)[i + 1].section == r.section) {
            const CavpRecord& following = (*records)[i + 1];
            EXPECT_EQ(toHex(next.key), toHex(following.key()));
            EXPECT_EQ(toHex(Bytes(next.iv.begin(), next.iv.end())), toHex(following.hex("IV")));
            EXPECT_EQ(toHex(Bytes(next.text.begin(), next.text.end())), toHex(following.hex(inName)));
        }
        checked++;
    }
    EXPECT_EQ(checked, static_cast<int>((records->size() + stride - 1) / stride));
}

}  // namespace

TEST(Des3Vectors, NistKnownAnswersAndMultiBlockMessages) {
    const std::pair<const char*, std::size_t> files[] = {
        {"TCBCvartext.rsp", 128}, {"TCBCvarkey.rsp", 112}, {"TCBCinvperm.rsp", 128}, {"TCBCpermop.rsp", 64},
        {"TCBCsubtab.rsp", 38},   {"TCBCMMT2.rsp", 20},    {"TCBCMMT3.rsp", 20}};
    for (auto [name, count] : files) {
        auto records = cavpFile(name);
        if (!records) GTEST_SKIP() << publishedVectorAbsent(std::string(kCavpDir) + name);
        SCOPED_TRACE(name);
        ASSERT_EQ(records->size(), count);
        for (const auto& r : *records) checkCavpRecord(r);
    }
}

TEST(Des3Vectors, NistMonteCarloTwoKey) { checkMonteCarloFile("TCBCMonte2.fax"); }
TEST(Des3Vectors, NistMonteCarloThreeKey) { checkMonteCarloFile("TCBCMonte3.fax"); }

TEST(Des3Vectors, OpenSslDesEde3CbcBothWays) {
    Rng rng(0xde53);
    const unsigned cases = 300 * longTestFactor();
    for (unsigned i = 0; i < cases; i++) {
        const std::size_t length = i < 4 ? std::size_t{65536} * i : rng.range(0, 600);
        const Bytes key = rng.bytes(24), iv = rng.bytes(8), plain = rng.bytes(length);
        SCOPED_TRACE(testing::Message() << "case " << i << " length " << length);
        auto expected = opensslDes3(true, key, iv, plain, true);
        ASSERT_TRUE(expected);
        std::int32_t error = 1;
        Ref<NSData> enc = QVDes3::createDes3EncryptData(dataOf(plain).get(), dataOf(key).get(), dataOf(iv).get(), &error);
        ASSERT_TRUE(enc);
        EXPECT_EQ(error, 0);
        EXPECT_TRUE(bytesOfData(enc.get()) == *expected);

        error = 1;
        Ref<NSData> dec = QVDes3::createDes3DecryptData(dataOf(*expected).get(), dataOf(key).get(), dataOf(iv).get(), &error);
        ASSERT_TRUE(dec);
        EXPECT_EQ(error, 0);
        EXPECT_TRUE(bytesOfData(dec.get()) == plain);
    }
}

TEST(Des3Vectors, NilIvIsTheKeysFirstEightBytes) {
    Rng rng(8);
    for (int i = 0; i < 50; i++) {
        const Bytes key = rng.bytes(24), plain = rng.bytes(rng.range(0, 100));
        const Bytes keyIv(key.begin(), key.begin() + 8);
        auto expected = opensslDes3(true, key, keyIv, plain, true);
        ASSERT_TRUE(expected);
        Ref<NSData> withNil = QVDes3::createDes3EncryptData(dataOf(plain).get(), dataOf(key).get(), nullptr, nullptr);
        Ref<NSData> withExplicit =
            QVDes3::createDes3EncryptData(dataOf(plain).get(), dataOf(key).get(), dataOf(keyIv).get(), nullptr);
        ASSERT_TRUE(withNil && withExplicit);
        EXPECT_EQ(bytesOfData(withNil.get()), *expected);
        EXPECT_EQ(bytesOfData(withExplicit.get()), *expected);
        Ref<NSData> back = QVDes3::createDes3DecryptData(withNil.get(), dataOf(key).get(), nullptr, nullptr);
        ASSERT_TRUE(back);
        EXPECT_EQ(bytesOfData(back.get()), plain);
    }
}
