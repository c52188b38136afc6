// Triple DES under a passphrase against the openssl program: with the salt
// fixed (-S, which makes openssl leave out the header), the library writes
// the header and then what `openssl enc -des-ede3-cbc -pbkdf2` writes, and
// decrypts it again; malformed input and bad parameters fail with their codes.
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>
#include <string>

#include "tests/support/rsa/openssl_key_files.h"
#include "tests/support/test_support.h"

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

TEST_P(Des3Passphrase, IsOpensslEncWithItsHeader) {
    const Case c = GetParam();
    Rng rng(c.length * 31 + c.iterations);
    const Bytes plain = rng.bytes(c.length);
    const cv::Des3Salt salt{0x5a, 0x17, 0, 0xff, 3, 4, 5, static_cast<std::uint8_t>(c.length)};
    const auto header = cv::des3SaltedHeader(salt);
    std::string expected = std::string(header.begin(), header.end()) +
                           runOracle({"openssl", "enc", "-des-ede3-cbc", "-pbkdf2", "-iter",
                                      std::to_string(c.iterations), "-md", c.digest, "-S",
                                      toHex(Bytes(salt.begin(), salt.end())), "-pass", "pass:pw"},
                                     std::string(plain.begin(), plain.end()));
    Bytes sealed = cv::des3EncryptWithPassphrase(plain, "pw", salt, c.iterations, c.digest);
    EXPECT_EQ(sealed, bytesOf(expected));
    EXPECT_EQ(cv::des3DecryptWithPassphrase(sealed, "pw", c.iterations, c.digest), plain);
}

INSTANTIATE_TEST_SUITE_P(LengthsIterationsDigests, Des3Passphrase,
                         ::testing::Values(Case{0, 10000, "sha256"}, Case{1, 1, "sha1"}, Case{15, 1000, "md5"},
                                           Case{4096, 3, "SHA512"}));

TEST(Des3PassphraseUse, BadInputAndParametersFailWithTheirCodes) {
    Bytes sealed = cv::des3EncryptWithPassphrase("x", "pw", cv::Des3Salt{1, 2, 3, 4, 5, 6, 7, 8}, 5, "sha1");
    const std::tuple<Bytes, std::string, unsigned, std::string, ErrorCode> cases[] = {
        {sealed, "wrong", 5, "sha1", ErrorCode::decryptionRefused},
        {sealed, "pw", 6, "sha1", ErrorCode::decryptionRefused},
        {Bytes(sealed.begin(), sealed.begin() + 15), "pw", 5, "sha1", ErrorCode::invalidInput},  // cut header
        {bytesOf("Salted_!12345678abcdefgh"), "pw", 5, "sha1", ErrorCode::invalidInput},        // no magic
        {Bytes(sealed.begin(), sealed.begin() + 16), "pw", 5, "sha1", ErrorCode::decryptionRefused},
        {sealed, "pw", 0, "sha1", ErrorCode::invalidInput},
        {sealed, "pw", 2147483648u, "sha1", ErrorCode::invalidInput},
        {sealed, "pw", 5, "no-such-digest", ErrorCode::invalidInput},
    };
    for (const auto& [input, passphrase, iterations, digest, code] : cases) {
        std::error_code error;
        EXPECT_TRUE(cv::des3DecryptWithPassphrase(input, passphrase, iterations, digest, error).empty());
        EXPECT_EQ(error, code) << toHex(input) << " " << passphrase << " " << iterations << " " << digest;
    }
}

}  // namespace
