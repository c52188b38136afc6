// The iteration limit of the key readers: a limit outside 1 to
// kMaxKeyIterationLimit is the caller's fault, refused by every reader
// whatever the key; a file asking for more than any limit allows is refused
// for its cost, with its count, and never reported as an allocation failure.
#include <Corvane/keys.h>
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/cli/cli_run.h"
#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

using namespace corvane;
using namespace corvane::test;
namespace cv = corvane::v1;

namespace {

// EncryptedPrivateKeyInfo asking for a count of 2^31 or more (8 hex digits,
// top bit set, after the INTEGER's 00): PBES2 (PBKDF2-HMAC-SHA256,
// AES-256-CBC) and pbeWithSHAAnd3-KeyTripleDES-CBC, each with one cipher
// block, never decrypted: the count refuses them first.
std::string costly(bool pbes2, const char* countHex) {
    const std::string hex =
        pbes2 ? std::string(
                    "306e305a06092a864886f70d01050d304d302c06092a864886f70d01050c301f0408010203040506"
                    "0708020500") +
                    countHex + "300c06082a864886f70d02090500301d060960864801650304012a0410" +
                    std::string(32, '0') + "0410" + std::string(32, 'a')
              : std::string("3033301f060a2a864886f70d010c0103301104080102030405060708020500") + countHex +
                    "0410" + std::string(32, 'a');
    const Bytes der = fromHex(hex);
    return {der.begin(), der.end()};
}

KeyReadOptions limitOf(std::uint32_t limit) {
    KeyReadOptions options;
    options.maxIterations = limit;
    return options;
}

// Every reader, as its caller sees the outcome (the modern layer without a
// count, which its Error does not carry).
using Reader = std::function<KeyStatus(const std::string& file, const KeyPassphrase&, const KeyReadOptions&)>;
std::vector<std::pair<const char*, Reader>> everyReader(const TempDir& dir) {
    auto file = [&dir](const std::string& f) { return dir.write("key", f); };
    return {
        {"private",
         [](auto& f, auto& p, auto& o) {
             R_RSA_PRIVATE_KEY k;
             return loadRsaPrivateKey(f, k, p, o);
         }},
        {"public",
         [](auto& f, auto& p, auto& o) {
             R_RSA_PUBLIC_KEY k;
             return loadRsaPublicKey(f, k, p, o);
         }},
        {"private file",
         [=](auto& f, auto& p, auto& o) {
             R_RSA_PRIVATE_KEY k;
             return loadRsaPrivateKeyFile(file(f).c_str(), k, p, o);
         }},
        {"public file",
         [=](auto& f, auto& p, auto& o) {
             R_RSA_PUBLIC_KEY k;
             return loadRsaPublicKeyFile(file(f).c_str(), k, p, o);
         }},
        {"RsaPrivateKey::fromEncoded",
         [](auto& f, auto& p, auto& o) {
             cv::ErrorInfo error;
             cv::RsaPrivateKey::fromEncoded(f, p, o, error);
             return KeyStatus{error.code, 0, nullptr, 0};
         }},
    };
}

}  // namespace

// 0 and anything above 2^31 - 1 is refused as invalidInput (the portable
// invalid_argument), for a plain key as for an encrypted one, and before a
// file is opened; both ends of the range are taken. Before, a limit of
// 2^32 - 1 let such a file reach PBKDF2 with the count as -1 (outOfMemory).
TEST(IterationLimit, LimitsOutsideTheRangeAreRefusedByEveryReaderWhateverTheKey) {
    TempDir dir;
    std::string plain, encrypted;
    ASSERT_FALSE(rsaPrivateKeyToPem(cachedRsaKey(512).privateKey, plain));
    ASSERT_FALSE(
        rsaPrivateKeyToPem(cachedRsaKey(512).privateKey, encrypted, RsaKeyFormat::standard, "passphrase"));
    for (const auto& [name, read] : everyReader(dir)) {
        SCOPED_TRACE(name);
        for (std::uint32_t limit : {0u, 2'147'483'648u, UINT32_MAX})
            for (const std::string& file : {plain, encrypted, costly(true, "ffffffff")}) {
                const KeyStatus status = read(file, "passphrase", limitOf(limit));
                EXPECT_EQ(status.error, ErrorCode::invalidInput) << limit;
                EXPECT_EQ(status.error, std::errc::invalid_argument);
            }
        for (std::uint32_t limit : {1u, kMaxKeyIterationLimit})
            EXPECT_FALSE(read(plain, {}, limitOf(limit)).error);
        EXPECT_FALSE(read(encrypted, "passphrase", limitOf(kMaxKeyIterationLimit)).error);
    }
    R_RSA_PRIVATE_KEY key;
    const KeyStatus status = loadRsaPrivateKeyFile(dir.file("absent").c_str(), key, {}, limitOf(0));
    EXPECT_EQ(status.error, ErrorCode::invalidInput);
    EXPECT_STREQ(status.detail, "the iteration limit must be 1 to 2147483647");
}

// A count above 2^31 - 1 is too costly under every limit a reader takes,
// in both schemes, with its count and without the passphrase asked for.
TEST(IterationLimit, CountsBeyondAnyLimitAreTooCostlyAndNeverOutOfMemory) {
    TempDir dir;
    int asked = 0;
    const KeyPassphrase counting([&](std::span<char>) -> std::size_t { return ++asked, 0; });
    for (const auto& [name, read] : everyReader(dir))
        for (bool pbes2 : {true, false})
            for (const auto& [countHex, count] : {std::pair{"ffffffff", UINT32_MAX}, {"80000000", 1u << 31}})
                for (std::uint32_t limit : {kMaxKeyIterationLimit, kDefaultMaxKeyIterations}) {
                    SCOPED_TRACE(std::string(name) + (pbes2 ? " PBES2 " : " PKCS #12 ") + countHex);
                    const KeyStatus status = read(costly(pbes2, countHex), counting, limitOf(limit));
                    EXPECT_EQ(status.error, ErrorCode::keyTooCostly);
                    EXPECT_NE(status.error, std::errc::not_enough_memory);
                    if (std::string(name).find("::") == std::string::npos) {
                        EXPECT_EQ(status.iterations, count);
                    }
                }
    EXPECT_EQ(asked, 0);
}
