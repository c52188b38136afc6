// The error enum and category of <Corvane/errors.h>: every legacy failure,
// provoked through the legacy API, carries the integer value of its
// enumerator, and every code has a meaning of its own.
#include <Corvane/Foundation.h>
#include <Corvane/QVDes3.h>
#include <Corvane/QVSimpleRSA.h>
#include <Corvane/errors.h>
#include <Corvane/r_random.h>
#include <Corvane/rsa.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "Classes/source/QVDes3_seams.h"
#include "platform/allocation.h"
#include "tests/support/rsa/rsa_calls.h"
#include "tests/support/rsa/rsa_keys.h"

using namespace corvane;
using namespace corvane::test;

namespace {

class ErrorCodes : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = NSLogSetSink([](const std::string&) {});
    }
    void TearDown() override {
        test_seams::setDes3Cipher(nullptr);
        test_seams::failNthAllocation(0);
        NSLogSetSink(previous_);
    }
    NSLogSink previous_;
};

std::int32_t des3Error(const Bytes& data, std::uint32_t operation) {
    Ref<NSData> input = make_ref<NSData>(data.data(), data.size());
    Ref<NSData> key = make_ref<NSData>("0123456789abcdefghijklmn", std::size_t{24});
    std::int32_t error = 0;
    EXPECT_FALSE(QVDes3::createDes3Data(input.get(), key.get(), nullptr, operation, &error));
    return error;
}

}  // namespace

TEST_F(ErrorCodes, EveryLegacyFailureCarriesItsEnumeratorsValue) {
    const RsaKey& key = cachedRsaKey(512);
    auto rsa = make_ref<QVSimpleRSA>();
    R_RANDOM_STRUCT unseeded;
    QV_R_RandomInit(&unseeded);
    R_RANDOM_STRUCT pool = seededTestPool(1);

    const struct {
        const char* name;
        std::function<std::int32_t()> provoke;
        ErrorCode code;
    } cases[] = {
        {"setPublicKey with a null text", [&] { return rsa->setPublicKey(nullptr, "03"); },
         ErrorCode::invalidInput},
        {"no memory for the 3DES buffer",
         [&] {
             test_seams::failNthAllocation(1);  // the 3DES scratch buffer is its first
             return des3Error(Bytes(8), kCCEncrypt);
         },
         ErrorCode::outOfMemory},
        {"cipher refuses an encryption",
         [&] {
             test_seams::setDes3Cipher([](CCOperation, CCAlgorithm, CCOptions, const void*, std::size_t,
                                          const void*, const void*, std::size_t, void*, std::size_t,
                                          std::size_t*) -> CCCryptorStatus { return kCCMemoryFailure; });
             return des3Error(Bytes(8), kCCEncrypt);
         },
         ErrorCode::encryptionRefused},
        {"13 bytes to decrypt", [&] { return des3Error(Bytes(13), kCCDecrypt); },
         ErrorCode::decryptionRefused},
        {"QVSimpleRSA over an empty key",
         [&] {
             rsa->setPublicKey("", "");
             std::int32_t error = 0;
             EXPECT_FALSE(rsa->createEncryptData("x", &error));
             return error;
         },
         ErrorCode::rsaOperationFailed},
        {"block not below the modulus",
         [&] { return callPrivateDecrypt(key.privateKey, Bytes(64, 0xFF)).status; }, ErrorCode::badData},
        {"message too long", [&] { return callPublicEncrypt(key.publicKey, Bytes(54), pool).status; },
         ErrorCode::badLength},
        {"unseeded pool",
         [&] {
             unsigned char b;
             return QV_R_GenerateBytes(&b, 1, &unseeded);
         },
         ErrorCode::notSeeded},
    };
    for (const auto& c : cases) {
        std::int32_t produced = c.provoke();
        test_seams::setDes3Cipher(nullptr);
        test_seams::failNthAllocation(0);
        EXPECT_EQ(produced, static_cast<std::int32_t>(c.code)) << c.name;
        std::error_code error = static_cast<ErrorCode>(produced);
        EXPECT_EQ(error, c.code) << c.name;
        EXPECT_EQ(&error.category(), &errorCategory()) << c.name;
        EXPECT_EQ(error.message(), errorMeaning(produced)) << c.name;
    }
}

TEST(ErrorMeanings, EveryCodeHasOneOfItsOwnAndOthersAreUnknown) {
    const std::string unknown = errorMeaning(0x7FFF);
    EXPECT_EQ(unknown, "unknown Corvane error code");
    // Every value in the ranges the four families use: the known ones have
    // distinct meanings, the others none.
    std::set<std::string> meanings;
    int known = 0;
    for (int range : {0, 0x0400, 0x0500, 0x0600})
        for (int v = range - 16; v <= range + 32; v++) {
            std::string meaning = errorMeaning(v);
            ASSERT_FALSE(meaning.empty());
            if (meaning == unknown) continue;
            known++;
            meanings.insert(meaning);
            EXPECT_EQ(meaning, errorCategory().message(v));
        }
    EXPECT_EQ(known, 30);  // success, five class codes, three statuses, sixteen key codes, five envelope codes
    EXPECT_EQ(meanings.size(), 30u);
    for (const std::string& meaning : meanings) EXPECT_EQ(repeatedPhrase(meaning), "") << meaning;
    EXPECT_EQ(errorMeaning(-1), unknown);  // no class code -1
    EXPECT_EQ(errorMeaning(0x0402), unknown);
    EXPECT_STREQ(errorCategory().name(), "corvane");
}

TEST(ErrorMeanings, CodesMeetThePortableConditionsTheyAre) {
    EXPECT_EQ(std::error_code(ErrorCode::outOfMemory), std::errc::not_enough_memory);
    EXPECT_EQ(std::error_code(ErrorCode::invalidInput), std::errc::invalid_argument);
    EXPECT_NE(std::error_code(ErrorCode::badData), std::errc::invalid_argument);
    EXPECT_NE(std::error_code(ErrorCode::keyTooLarge), std::errc::not_enough_memory);
    EXPECT_FALSE(std::error_code(ErrorCode::ok));
    EXPECT_TRUE(std::error_code(ErrorCode::keyEncrypted));
}
