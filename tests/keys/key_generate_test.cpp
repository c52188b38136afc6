// RsaPrivateKey::generate: keys of every size asked for, exactly that many
// bits, that OpenSSL's own key check accepts and that work both ways; the
// same seed gives the same key; sizes outside 512..1024 and an unseeded
// pool are refused.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <Corvane/corvane.hpp>
#include <string>

#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

namespace cv = corvane::v1;
using corvane::ErrorCode;
using namespace corvane::test;

namespace {

RsaComponents componentsOf(const R_RSA_PRIVATE_KEY& r) {
    auto trimmed = [](const unsigned char* field, std::size_t length) {
        std::size_t i = 0;
        while (i < length && field[i] == 0) i++;
        return Bytes(field + i, field + length);
    };
    return {trimmed(r.modulus, sizeof r.modulus),           trimmed(r.publicExponent, sizeof r.publicExponent),
            trimmed(r.privateExponent, sizeof r.privateExponent), trimmed(r.prime[0], sizeof r.prime[0]),
            trimmed(r.prime[1], sizeof r.prime[1]),         trimmed(r.primeExponent[0], sizeof r.primeExponent[0]),
            trimmed(r.primeExponent[1], sizeof r.primeExponent[1]), trimmed(r.coefficient, sizeof r.coefficient)};
}

TEST(KeyGeneration, KeysOfEverySizeAreSoundAndWork) {
    for (unsigned bits : {512u, 513u, 768u, 1000u, 1024u}) {
        SCOPED_TRACE(bits);
        cv::RandomPool pool;
        const cv::RsaPrivateKey key = cv::RsaPrivateKey::generate(bits, pool);
        EXPECT_EQ(key.bits(), bits);
        const RsaKey openssl = rsaKeyFromComponents(componentsOf(key.record()));
        EXPECT_EQ(openssl.bits, bits);
        EXPECT_EQ(openssl.parts.e, (Bytes{0x01, 0x00, 0x01}));
        EVP_PKEY_CTX* check = EVP_PKEY_CTX_new_from_pkey(nullptr, openssl.evp.get(), nullptr);
        EXPECT_EQ(EVP_PKEY_private_check(check), 1);
        EVP_PKEY_CTX_free(check);
        EXPECT_EQ(key.decrypt(key.publicKey().encrypt("both ways")), bytesOf("both ways"));
        EXPECT_EQ(opensslPublicDecrypt(openssl, key.sign("signed"), RSA_PKCS1_PADDING), bytesOf("signed"));
    }
}

TEST(KeyGeneration, TheSameSeedGivesTheSameKey) {
    auto fromSeed = [](char c) {
        cv::RandomPool pool = cv::RandomPool::fromSeed(std::string(256, c));
        return cv::RsaPrivateKey::generate(512, pool).toPem();
    };
    EXPECT_EQ(fromSeed('a'), fromSeed('a'));
    EXPECT_NE(fromSeed('a'), fromSeed('b'));
}

TEST(KeyGeneration, RefusesOtherSizesAndAnUnseededPool) {
    cv::RandomPool pool;
    for (unsigned bits : {0u, 511u, 1025u, 2048u}) {
        try {
            cv::RsaPrivateKey::generate(bits, pool);
            ADD_FAILURE() << bits;
        } catch (const cv::Error& e) {
            EXPECT_EQ(e.code(), ErrorCode::invalidInput) << bits;
            EXPECT_NE(std::string(e.what()).find(std::to_string(bits) + " bits"), std::string::npos) << e.what();
        }
    }
    cv::RandomPool unseeded = cv::RandomPool::fromSeed("short");
    try {
        cv::RsaPrivateKey::generate(512, unseeded);
        ADD_FAILURE();
    } catch (const cv::Error& e) {
        EXPECT_EQ(e.code(), ErrorCode::notSeeded);
    }
}

}  // namespace
