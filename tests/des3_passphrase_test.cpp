// Triple DES under a passphrase against the openssl program: with the salt
// fixed (-S), des3EncryptWithPassphrase writes the header and then what
// `openssl enc -des-ede3-cbc -pbkdf2` writes, for several lengths, iteration counts and
// digests, and decrypts it again; wrong parameters and malformed input fail
// with their codes.
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>
#include <algorithm>
#include <string>

#include "openssl_key_files.h"
#include "test_support.h"

using namespace corvane;
using namespace corvane::test;
namespace cv = corvane::v1;

namespace {

struct Case {
    std::size_t length;
    unsigned iterations;
    const char* digest;
};

class Des3Passphrase : public ::testing::TestWithParam<Case> {};

TEST_P(Des3Passphrase, MatchesOpensslEncAndDecryptsAgain) {
    const Case c = GetParam();
    Rng rng(c.length * 31 + c.iterations);
    const Bytes plain = rng.bytes(c.length);
    cv::Des3Salt salt{};
    std::ranges::copy(rng.bytes(salt.size()), salt.begin());
    const std::string passphrase = "pass " + std::to_string(c.length);

    Bytes sealed = cv::des3EncryptWithPassphrase(plain, passphrase, salt, c.iterations, c.digest);
    std::string expected =
        runOracle({"openssl", "enc", "-des-ede3-cbc", "-pbkdf2", "-iter", std::to_string(c.iterations), "-md",
                   c.digest, "-S", toHex(Bytes(salt.begin(), salt.end())), "-pass", "pass:" + passphrase},
                  std::string(plain.begin(), plain.end()));
    // With -S openssl writes the ciphertext alone; without, the header first.
    auto header = cv::des3SaltedHeader(salt);
    EXPECT_EQ(sealed, bytesOf(std::string(header.begin(), header.end()) + expected));
    EXPECT_EQ(cv::des3DecryptWithPassphrase(sealed, passphrase, c.iterations, c.digest), plain);

    // A wrong passphrase, count or digest fails (with these fixed inputs,
    // always on the padding).
    std::error_code error;
    for (auto [p, i, d] : {std::tuple{passphrase + "!", c.iterations, std::string(c.digest)},
                           std::tuple{passphrase, c.iterations + 1, std::string(c.digest)},
                           std::tuple{passphrase, c.iterations, std::string("sha384")}}) {
        Bytes wrong = cv::des3DecryptWithPassphrase(sealed, p, i, d, error);
        if (error != ErrorCode::decryptionRefused) {
            EXPECT_NE(wrong, plain) << p << " " << i << " " << d;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(LengthsIterationsDigests, Des3Passphrase,
                         ::testing::Values(Case{0, 10000, "sha256"}, Case{1, 1, "sha1"}, Case{8, 2, "sha512"},
                                           Case{15, 1000, "md5"}, Case{100, 10000, "sha256"},
                                           Case{4096, 3, "SHA256"}));

TEST(Des3PassphraseUse, RandomSaltsHeadersAndDefaults) {
    const std::string plain = "the same message";
    Bytes a = cv::des3EncryptWithPassphrase(plain, "pw");
    Bytes b = cv::des3EncryptWithPassphrase(plain, "pw");
    EXPECT_NE(a, b);  // a new salt each time
    for (const Bytes& sealed : {a, b}) {
        cv::Des3Salt salt{};
        ASSERT_TRUE(cv::des3SaltFromHeader(sealed, salt));
        auto header = cv::des3SaltedHeader(salt);
        EXPECT_TRUE(std::equal(header.begin(), header.end(), sealed.begin()));
        EXPECT_EQ(sealed, cv::des3EncryptWithPassphrase(plain, "pw", salt, 10000, "sha256"));
        EXPECT_EQ(cv::des3DecryptWithPassphrase(sealed, "pw"), bytesOf(plain));
    }
}

TEST(Des3PassphraseUse, BadInputAndParametersFailWithTheirCodes) {
    const cv::Des3Salt salt{1, 2, 3, 4, 5, 6, 7, 8};
    Bytes sealed = cv::des3EncryptWithPassphrase("x", "pw", salt, 5, "sha1");
    const std::pair<Bytes, ErrorCode> inputs[] = {
        {Bytes(sealed.begin(), sealed.begin() + 15), ErrorCode::invalidInput},       // header cut short
        {bytesOf("Salted_!12345678abcdefgh"), ErrorCode::invalidInput},              // not the magic
        {Bytes(sealed.begin(), sealed.begin() + 16), ErrorCode::decryptionRefused},  // no ciphertext
        {Bytes(sealed.begin(), sealed.end() - 1), ErrorCode::decryptionRefused},     // not whole blocks
    };
    for (const auto& [input, code] : inputs) {
        std::error_code error;
        EXPECT_TRUE(cv::des3DecryptWithPassphrase(input, "pw", 5, "sha1", error).empty());
        EXPECT_EQ(error, code) << toHex(input);
    }
    for (auto [iterations, digest] : {std::pair{0u, "sha1"}, std::pair{2147483648u, "sha1"},
                                      std::pair{5u, "no-such-digest"}, std::pair{5u, ""}}) {
        std::error_code error;
        cv::des3DecryptWithPassphrase(sealed, "pw", iterations, digest, error);
        EXPECT_EQ(error, ErrorCode::invalidInput) << iterations << " " << digest;
        try {
            cv::des3KeyFromPassphrase("pw", salt, iterations, digest);
            ADD_FAILURE() << "no exception for " << iterations << " " << digest;
        } catch (const cv::Error& e) {
            EXPECT_EQ(e.code(), ErrorCode::invalidInput);
        }
    }
}

TEST(Des3PassphraseUse, KeyObjectsWipeWhatTheyGiveUp) {
    const cv::Des3Salt salt{};
    auto bytesOfKey = [](const cv::Des3PassphraseKey& k) {
        Bytes b(k.key().begin(), k.key().end());
        b.insert(b.end(), k.iv().begin(), k.iv().end());
        return b;
    };
    cv::Des3PassphraseKey key = cv::des3KeyFromPassphrase("pw", salt, 1, "sha256");
    const Bytes derived = bytesOfKey(key);
    EXPECT_NE(derived, Bytes(32, 0));
    cv::Des3PassphraseKey taken = std::move(key);
    EXPECT_EQ(bytesOfKey(taken), derived);
    EXPECT_EQ(bytesOfKey(key), Bytes(32, 0));  // NOLINT(bugprone-use-after-move)
}

}  // namespace
