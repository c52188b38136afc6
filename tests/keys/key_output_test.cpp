// The key writers' text against libcrypto's printer on the same keys, also
// for keys so small that their fields print in decimal (64-bit primes) or
// just not (68-bit primes), and the records the writers refuse. The DER
// forms are compared with the openssl program's in cli_keytool_test.
#include <Corvane/keys.h>
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <cstring>
#include <memory>

#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

using namespace corvane;
using namespace corvane::test;

namespace {

struct BnFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bytes bytesOf(const BIGNUM* b) {
    Bytes out(static_cast<std::size_t>(BN_num_bytes(b)));
    BN_bn2bin(b, out.data());
    return out;
}

// A key of two primes of bits / 2 bits each, larger first (as the records
// hold them), made here since libcrypto's generator stops at 512 bits and
// small keys are the ones whose fields print in decimal.
RsaKey keyOfBits(int bits) {
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    Bn p(BN_new()), q(BN_new()), e(BN_new()), p1(BN_new()), q1(BN_new()), phi(BN_new()), gcd(BN_new());
    BN_set_word(e.get(), 65537);
    do {
        BN_generate_prime_ex(p.get(), bits / 2, 0, nullptr, nullptr, nullptr);
        BN_generate_prime_ex(q.get(), bits / 2, 0, nullptr, nullptr, nullptr);
        if (BN_cmp(p.get(), q.get()) < 0) BN_swap(p.get(), q.get());
        BN_copy(p1.get(), p.get());
        BN_copy(q1.get(), q.get());
        BN_sub_word(p1.get(), 1);
        BN_sub_word(q1.get(), 1);
        BN_mul(phi.get(), p1.get(), q1.get(), ctx.get());
        BN_gcd(gcd.get(), e.get(), phi.get(), ctx.get());
    } while (BN_cmp(p.get(), q.get()) == 0 || !BN_is_one(gcd.get()));
    Bn n(BN_new()), d(BN_mod_inverse(nullptr, e.get(), phi.get(), ctx.get())), dp(BN_new()), dq(BN_new()),
        qinv(BN_mod_inverse(nullptr, q.get(), p.get(), ctx.get()));
    BN_mul(n.get(), p.get(), q.get(), ctx.get());
    BN_mod(dp.get(), d.get(), p1.get(), ctx.get());
    BN_mod(dq.get(), d.get(), q1.get(), ctx.get());
    return rsaKeyFromComponents({bytesOf(n.get()), bytesOf(e.get()), bytesOf(d.get()), bytesOf(p.get()),
                                 bytesOf(q.get()), bytesOf(dp.get()), bytesOf(dq.get()),
                                 bytesOf(qinv.get())});
}

template <typename Print>
std::string printed(Print print) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    print(bio.get());
    char* data = nullptr;
    long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(n));
}

class KeyOutput : public ::testing::TestWithParam<int> {};

TEST_P(KeyOutput, TextIsWhatLibcryptoPrints) {
    RsaKey key = keyOfBits(GetParam());
    ASSERT_TRUE(key.fitsRecords);
    std::string text = "left over";
    ASSERT_FALSE(rsaPrivateKeyToText(key.privateKey, text));
    EXPECT_EQ(text, printed([&](BIO* b) { EVP_PKEY_print_private(b, key.evp.get(), 0, nullptr); }));
    ASSERT_FALSE(rsaPublicKeyToText(key.publicKey, text));
    EXPECT_EQ(text, printed([&](BIO* b) { EVP_PKEY_print_public(b, key.evp.get(), 0, nullptr); }));
}

INSTANTIATE_TEST_SUITE_P(Sizes, KeyOutput, ::testing::Values(96, 128, 136, 1024));

TEST(KeyOutputRefusals, BadRecordsAndTheEncryptedPkcs1DerAreRefused) {
    R_RSA_PRIVATE_KEY incomplete = cachedRsaKey(512).privateKey;
    Bytes der = {1, 2, 3};
    std::string text;
    EXPECT_EQ(rsaPrivateKeyToDer(incomplete, der, RsaKeyFormat::pkcs1, "p"), ErrorCode::invalidInput);
    EXPECT_EQ(der, (Bytes{1, 2, 3}));
    std::memset(incomplete.coefficient, 0, sizeof incomplete.coefficient);
    EXPECT_EQ(rsaPrivateKeyToText(incomplete, text), ErrorCode::keyIncomplete);
    EXPECT_EQ(rsaPrivateKeyToDer(incomplete, der), ErrorCode::keyIncomplete);
}

}  // namespace
