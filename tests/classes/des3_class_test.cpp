// QVDes3's own rules: output sizes, how keys and IVs are extended or cut, the
// error codes and their log lines, the short forms, and random keys. The
// cipher underneath is checked against OpenSSL and published vectors in
// des3_vectors_test.cpp.
#include <Corvane/QVDes3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>

#include "Classes/source/QVDes3_seams.h"
#include "platform/CommonCrypto.h"
#include "platform/allocation.h"
#include "platform/entropy.h"
#include "tests/support/des3_support.h"
#include "tests/support/test_support.h"

using namespace corvane;
using namespace corvane::test;

namespace {

// What the class handed to the cipher on its last call, and how often it
// called it. The stand-in forwards to the real adapter unless told to fail.
struct CipherSpy {
    int calls = 0;
    CCOperation op = 0;
    CCAlgorithm alg = 0;
    CCOptions options = 0;
    Bytes key, iv;
    std::size_t dataInLength = 0, dataOutAvailable = 0;
    CCCryptorStatus forcedStatus = kCCSuccess;
};
CipherSpy spy;

CCCryptorStatus spyingCipher(CCOperation op, CCAlgorithm alg, CCOptions options, const void* key,
                             std::size_t keyLength, const void* iv, const void* dataIn,
                             std::size_t dataInLength, void* dataOut, std::size_t dataOutAvailable,
                             std::size_t* dataOutMoved) {
    spy.calls++;
    spy.op = op;
    spy.alg = alg;
    spy.options = options;
    spy.key.assign(static_cast<const std::uint8_t*>(key), static_cast<const std::uint8_t*>(key) + keyLength);
    spy.iv.assign(static_cast<const std::uint8_t*>(iv), static_cast<const std::uint8_t*>(iv) + 8);
    spy.dataInLength = dataInLength;
    spy.dataOutAvailable = dataOutAvailable;
    if (spy.forcedStatus != kCCSuccess) return spy.forcedStatus;
    return CCCrypt(op, alg, options, key, keyLength, iv, dataIn, dataInLength, dataOut, dataOutAvailable,
                   dataOutMoved);
}

class Des3Class : public testing::Test {
protected:
    void SetUp() override {
        spy = CipherSpy{};
        test_seams::setDes3Cipher(spyingCipher);
    }
    void TearDown() override {
        test_seams::setDes3Cipher(nullptr);
        test_seams::setEntropySource(nullptr);
    }
    LogCapture quiet_;  // keeps expected failure lines off the test output
};

// Runs the general method and returns its output bytes (or nullopt for nil)
// together with the error code.
struct Outcome {
    std::optional<Bytes> bytes;
    std::int32_t error;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};
Outcome run(const NSData* data, const NSData* key, const NSData* iv, std::uint32_t op) {
    std::int32_t error = 99;
    Ref<NSData> out = QVDes3::createDes3Data(data, key, iv, op, &error);
    return {out ? std::optional<Bytes>(bytesOfData(out.get())) : std::nullopt, error};
}

Bytes zeroExtendedOrCut(Bytes b, std::size_t n) {
    b.resize(n, 0);
    return b;
}

}  // namespace

TEST_F(Des3Class, OutputIsTheNextWholeBlockAboveTheLengthAndDecryptsBack) {
    Rng rng(24);
    auto key = dataOf(rng.bytes(24)), iv = dataOf(rng.bytes(8));
    const std::pair<std::size_t, std::size_t> sizes[] = {{0, 8}, {1, 8}, {7, 8}, {8, 16}, {15, 16}, {16, 24}, {17, 24}, {1000, 1008}};
    for (auto [length, expected] : sizes) {
        SCOPED_TRACE(length);
        const Bytes plain = rng.bytes(length);
        Outcome enc = run(dataOf(plain).get(), key.get(), iv.get(), kCCEncrypt);
        ASSERT_EQ(enc.error, 0);
        ASSERT_TRUE(enc.bytes);
        EXPECT_EQ(enc.bytes->size(), expected);
        EXPECT_EQ(spy.dataOutAvailable, expected) << "scratch buffer size";
        Outcome dec = run(dataOf(*enc.bytes).get(), key.get(), iv.get(), kCCDecrypt);
        EXPECT_EQ(dec, (Outcome{plain, 0}));
    }
}

TEST_F(Des3Class, CipherGetsThreeKeyCbcWithPaddingAndTheOperationUnchanged) {
    auto data = dataOf(Bytes(10, 1)), key = dataOf(Bytes(24, 2));
    for (std::uint32_t op : {0u, 1u, 7u}) {
        std::int32_t error = 0;
        QVDes3::createDes3Data(data.get(), key.get(), nullptr, op, &error);
        EXPECT_EQ(spy.op, op);
        EXPECT_EQ(spy.alg, kCCAlgorithm3DES);
        EXPECT_EQ(spy.options, kCCOptionPKCS7Padding);
        EXPECT_EQ(spy.key.size(), 24u);
        EXPECT_EQ(spy.dataInLength, 10u);
    }
}

// Keys are zero-extended or cut to 24 bytes, IVs to 8; a nil IV is the first
// 8 bytes of the zero-extended key. Checked against OpenSSL with the key and
// IV written out in full.
TEST_F(Des3Class, KeysAndIvsAreExtendedWithZerosOrCut) {
    Rng rng(58);
    const Bytes plain = rng.bytes(37);
    const std::size_t keyLengths[] = {0, 3, 8, 23, 24, 25, 30};
    const int ivLengths[] = {-1, 0, 5, 8, 12};  // -1: nil
    for (std::size_t keyLength : keyLengths) {
        for (int ivLength : ivLengths) {
            SCOPED_TRACE(testing::Message() << "key " << keyLength << " iv " << ivLength);
            const Bytes key = rng.bytes(keyLength);
            const Bytes fullKey = zeroExtendedOrCut(key, 24);
            Bytes iv, fullIv;
            if (ivLength < 0) {
                fullIv = Bytes(fullKey.begin(), fullKey.begin() + 8);
            } else {
                iv = rng.bytes(static_cast<std::size_t>(ivLength));
                fullIv = zeroExtendedOrCut(iv, 8);
            }
            auto ivData = ivLength < 0 ? Ref<NSData>() : dataOf(iv);
            auto expected = opensslDes3(true, fullKey, fullIv, plain, true);
            ASSERT_TRUE(expected);
            Outcome enc = run(dataOf(plain).get(), dataOf(key).get(), ivData.get(), kCCEncrypt);
            EXPECT_EQ(enc, (Outcome{*expected, 0}));
            EXPECT_EQ(spy.key, fullKey);
            EXPECT_EQ(spy.iv, fullIv);
            Outcome dec = run(dataOf(*expected).get(), dataOf(key).get(), ivData.get(), kCCDecrypt);
            EXPECT_EQ(dec, (Outcome{plain, 0}));
        }
    }
}

TEST_F(Des3Class, NilDataOrKeyIsRefusedBeforeTheCipher) {
    auto some = dataOf(Bytes(16, 7));
    const std::pair<const NSData*, const NSData*> cases[] = {{nullptr, some.get()}, {some.get(), nullptr}, {nullptr, nullptr}};
    for (auto [data, key] : cases) {
        for (std::uint32_t op : {kCCEncrypt, kCCDecrypt}) {
            LogCapture log;
            EXPECT_EQ(run(data, key, some.get(), op), (Outcome{std::nullopt, -2}));
            EXPECT_EQ(log.lines(), std::vector<std::string>{"input or key nil"});
        }
    }
    EXPECT_EQ(spy.calls, 0);
}

TEST_F(Des3Class, RefusalsOfTheCipherGiveMinusFourOrFiveWithItsStatus) {
    Rng rng(45);
    const Bytes keyBytes = rng.bytes(24), ivBytes = rng.bytes(8);
    auto key = dataOf(keyBytes), iv = dataOf(ivBytes);
    // A 16-byte message whose last block does not decrypt to valid padding.
    auto badPadding = opensslDes3(true, keyBytes, ivBytes, fromHex("00112233445566778899aabbccddeeff"), false);
    ASSERT_TRUE(badPadding);
    struct Case {
        const char* name;
        Bytes data;
        std::uint32_t op;
        CCCryptorStatus forced;
        std::int32_t error;
        const char* line;
    } cases[] = {
        {"13 bytes", rng.bytes(13), kCCDecrypt, kCCSuccess, -5, "CCCrypt failed,CCCryptorStatus -4303!"},
        {"bad padding", *badPadding, kCCDecrypt, kCCSuccess, -5, "CCCrypt failed,CCCryptorStatus -4304!"},
        {"empty", {}, kCCDecrypt, kCCSuccess, -5, "CCCrypt failed,CCCryptorStatus -4304!"},
        {"unknown operation", rng.bytes(8), 2, kCCSuccess, -5, "CCCrypt failed,CCCryptorStatus -4300!"},
        {"encryption refused", rng.bytes(8), kCCEncrypt, kCCMemoryFailure, -4, "CCCrypt failed,CCCryptorStatus -4302!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        spy.forcedStatus = c.forced;
        LogCapture log;
        EXPECT_EQ(run(dataOf(c.data).get(), key.get(), iv.get(), c.op), (Outcome{std::nullopt, c.error}));
        EXPECT_EQ(log.lines(), std::vector<std::string>{c.line});
    }
}

TEST_F(Des3Class, NoMemoryForTheScratchBufferGivesMinusThree) {
    auto data = dataOf(Bytes(16, 1)), key = dataOf(Bytes(24, 2));
    for (std::uint32_t op : {kCCEncrypt, kCCDecrypt}) {
        LogCapture log;
        test_seams::failNthAllocation(1);  // the scratch buffer is the class's first raw allocation
        Outcome outcome = run(data.get(), key.get(), nullptr, op);
        test_seams::failNthAllocation(0);
        EXPECT_EQ(outcome, (Outcome{std::nullopt, -3}));
        EXPECT_EQ(log.lines(), std::vector<std::string>{"create buff for encrypt failed!"});
    }
    EXPECT_EQ(spy.calls, 0);
}

TEST_F(Des3Class, InputsOfTwoGibibytesLessEightAreRefused) {
    auto key = dataOf(Bytes(24, 3));
    const unsigned char probe[8] = {};
    for (std::size_t length : {std::size_t{2147483640}, std::size_t{0xFFFFFFFF}, SIZE_MAX}) {
        LogCapture log;
        std::int32_t error = 0;
        // The bytes behind the claimed length do not exist: the refusal must
        // come before anything is read or allocated.
        EXPECT_FALSE(test_seams::des3WithLength(probe, length, key.get(), nullptr, kCCEncrypt, &error));
        EXPECT_EQ(error, -2);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_NE(log.lines()[0].find("too long"), std::string::npos) << log.lines()[0];
    }
    EXPECT_EQ(spy.calls, 0);
    EXPECT_EQ(QVDes3::kMaxDataLength, 2147483639u);
}

TEST_F(Des3Class, ShortFormsEqualTheGeneralMethod) {
    Rng rng(2);
    auto data = dataOf(rng.bytes(21)), key = dataOf(rng.bytes(24)), iv = dataOf(rng.bytes(8));
    const NSData* ivs[] = {iv.get(), nullptr};
    for (const NSData* ivOrNil : ivs) {
        std::int32_t error = 1;
        Ref<NSData> enc = QVDes3::createDes3EncryptData(data.get(), key.get(), ivOrNil, &error);
        ASSERT_TRUE(enc);
        EXPECT_EQ((Outcome{bytesOfData(enc.get()), error}), run(data.get(), key.get(), ivOrNil, kCCEncrypt));
        EXPECT_EQ(enc->retainCount(), 1u) << "the caller owns the only reference";

        error = 1;
        Ref<NSData> dec = QVDes3::createDes3DecryptData(enc.get(), key.get(), ivOrNil, &error);
        ASSERT_TRUE(dec);
        EXPECT_EQ((Outcome{bytesOfData(dec.get()), error}), run(enc.get(), key.get(), ivOrNil, kCCDecrypt));
        EXPECT_EQ(bytesOfData(dec.get()), bytesOfData(data.get()));

        error = 1;
        EXPECT_FALSE(QVDes3::createDes3DecryptData(data.get(), key.get(), ivOrNil, &error));
        EXPECT_EQ(error, -5);
        EXPECT_FALSE(QVDes3::createDes3EncryptData(nullptr, key.get(), ivOrNil, &error));
        EXPECT_EQ(error, -2);
    }
}

TEST_F(Des3Class, NullErrorPointerChangesNeitherResultNorLog) {
    Rng rng(5);
    auto key = dataOf(rng.bytes(24));
    auto good = dataOf(rng.bytes(16));
    auto misaligned = dataOf(rng.bytes(13));
    struct Case {
        const NSData* data;
        std::uint32_t op;
    } cases[] = {{good.get(), kCCEncrypt}, {misaligned.get(), kCCDecrypt}, {nullptr, kCCEncrypt}};
    for (const auto& c : cases) {
        std::int32_t error = 0;
        LogCapture withPointer;
        Ref<NSData> a = QVDes3::createDes3Data(c.data, key.get(), nullptr, c.op, &error);
        auto linesWith = withPointer.lines();
        LogCapture withoutPointer;
        Ref<NSData> b = QVDes3::createDes3Data(c.data, key.get(), nullptr, c.op, nullptr);
        EXPECT_EQ(bool(a), bool(b));
        if (a && b) {
            EXPECT_EQ(bytesOfData(a.get()), bytesOfData(b.get()));
        }
        EXPECT_EQ(withoutPointer.lines(), linesWith);
    }
}

TEST_F(Des3Class, RandomKeysAreTwentyFourUpperCaseHexDigitsAndDistinct) {
    std::set<Bytes> seen;
    for (int i = 0; i < 1000; i++) {
        Ref<NSData> key = QVDes3::createRandomDes3Key();
        ASSERT_TRUE(key);
        Bytes k = bytesOfData(key.get());
        ASSERT_EQ(k.size(), 24u);
        for (std::uint8_t c : k) ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << int(c);
        seen.insert(k);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

TEST_F(Des3Class, RandomKeyWritesEachEntropyByteAsTwoDigitsAndFailsCleanly) {
    test_seams::setEntropySource([](void* out, std::size_t length) {
        const Bytes fixed = fromHex("009AFF10c35e7b2d48e6f1a0");
        if (length != fixed.size()) return false;
        std::copy(fixed.begin(), fixed.end(), static_cast<std::uint8_t*>(out));
        return true;
    });
    Ref<NSData> key = QVDes3::createRandomDes3Key();
    ASSERT_TRUE(key);
    EXPECT_EQ(bytesOfData(key.get()), bytesOf("009AFF10C35E7B2D48E6F1A0"));

    test_seams::setEntropySource([](void*, std::size_t) { return false; });
    LogCapture log;
    EXPECT_FALSE(QVDes3::createRandomDes3Key());
    EXPECT_EQ(log.lines().size(), 1u);
}
