// What happens when the operating system's entropy source fails, made to
// fail through the test stand-in: pool seeding falls back to the clock alone
// and keeps working (QV_R_RandomCreate cannot report), encryption through
// QVSimpleRSA therefore still gives blocks that decrypt, and a random
// triple-DES key is refused (nil and one log line) rather than made weak.
#include <Corvane/QVDes3.h>
#include <Corvane/QVSimpleRSA.h>
#include <Corvane/r_random.h>
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>
#include <openssl/rsa.h>

#include <atomic>
#include <cstring>

#include "platform/entropy.h"
#include "tests/support/des3_support.h"
#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

using namespace corvane;
using namespace corvane::test;

namespace {

std::atomic<int> g_calls{0};
std::atomic<std::size_t> g_lastLength{0};

// Fills the buffer with a marker, then reports failure.
bool failingSource(void* out, std::size_t length) {
    g_calls++;
    g_lastLength = length;
    std::memset(out, 0xEE, length);
    return false;
}

class EntropyFailure : public testing::Test {
protected:
    void SetUp() override {
        g_calls = 0;
        g_lastLength = 0;
        test_seams::setEntropySource(failingSource);
    }
    void TearDown() override { test_seams::setEntropySource(nullptr); }
};

TEST_F(EntropyFailure, PoolCreationFallsBackToTheClockAndStaysUsable) {
    R_RANDOM_STRUCT pool;
    std::memset(&pool, 0x11, sizeof pool);
    QV_R_RandomCreate(&pool);
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(g_lastLength, 32u) << "32 bytes are asked for after the clock passes";
    EXPECT_EQ(pool.bytesNeeded, 0u);
    EXPECT_EQ(pool.outputAvailable, 0u);
    unsigned char bytes[40];
    EXPECT_EQ(QV_R_GenerateBytes(bytes, sizeof bytes, &pool), 0);
    QV_R_RandomFinal(&pool);
}

TEST_F(EntropyFailure, EncryptionStillGivesBlocksThatDecrypt) {
    const RsaKey& key = cachedRsaKey(512);
    auto rsa = make_ref<QVSimpleRSA>();
    ASSERT_EQ(rsa->setPublicKey(toHex(key.parts.n).c_str(), toHex(key.parts.e).c_str()), 0);
    for (const char* message : {"", "PIN 1234", "a message of fifty-three bytes, the most that fits.."}) {
        std::int32_t error = 1;
        Ref<NSData> block = rsa->createEncryptData(message, &error);
        ASSERT_TRUE(block) << message;
        EXPECT_EQ(error, 0);
        auto plain = opensslPrivateDecrypt(key, bytesOfData(block.get()), RSA_PKCS1_PADDING);
        ASSERT_TRUE(plain) << message;
        EXPECT_EQ(*plain, bytesOf(message));
    }
    EXPECT_EQ(g_calls, 3) << "every encryption seeds its own pool";
}

TEST_F(EntropyFailure, RandomKeyIsRefusedWithNilAndOneLine) {
    LogCapture log;
    EXPECT_FALSE(QVDes3::createRandomDes3Key());
    EXPECT_EQ(log.lines(), std::vector<std::string>{"create random key failed: no entropy from the system!"});
    EXPECT_EQ(g_calls, 1);
    test_seams::setEntropySource(nullptr);
    EXPECT_TRUE(QVDes3::createRandomDes3Key()) << "keys come again once the source works";
}

// The modern layer's keys of both forms, and sealing an envelope, fail
// with io_error rather than use a key that is not random.
TEST_F(EntropyFailure, ModernKeysAndEnvelopesAreRefused) {
    namespace cv = corvane::v1;
    for (cv::Des3KeyForm form : {cv::Des3KeyForm::bytes, cv::Des3KeyForm::hexText}) {
        try {
            cv::des3RandomKey(form);
            ADD_FAILURE() << "a key came without entropy";
        } catch (const cv::Error& e) {
            EXPECT_EQ(e.code(), std::errc::io_error);
        }
        cv::RandomPool pool = cv::RandomPool::fromSeed(std::string(256, 's'));
        const cv::RsaPublicKey key = cv::RsaPrivateKey::fromRecord(cachedRsaKey(512).privateKey).publicKey();
        EXPECT_THROW(cv::sealEnvelope(key, "message", pool, form), cv::Error);
    }
    test_seams::setEntropySource(nullptr);
    const Bytes a = cv::des3RandomKey(cv::Des3KeyForm::bytes), b = cv::des3RandomKey(cv::Des3KeyForm::bytes);
    EXPECT_EQ(a.size(), 24u);
    EXPECT_NE(a, b);
}

}  // namespace
