// The key writers' text and DER forms against libcrypto on the same keys:
// the text as EVP_PKEY_print_private / _public prints it (also for keys so
// small that their fields print in decimal), the DER as libcrypto's own
// encoders write it, and encrypted DER read back under its passphrase.
#include <Corvane/keys.h>
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/x509.h>

#include <memory>

#include "rsa_keys.h"
#include "test_support.h"

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

// A key of two primes of bits / 2 bits each, larger first: below 512 bits,
// where libcrypto's generator does not go, and small enough for fields of
// up to 8 bytes.
RsaKey smallKey(int bits) {
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    Bn p(BN_new()), q(BN_new()), e(BN_new()), one(BN_value_one() ? BN_dup(BN_value_one()) : nullptr);
    Bn p1(BN_new()), q1(BN_new()), phi(BN_new()), gcd(BN_new());
    BN_set_word(e.get(), 65537);
    do {
        BN_generate_prime_ex(p.get(), bits / 2, 0, nullptr, nullptr, nullptr);
        BN_generate_prime_ex(q.get(), bits / 2, 0, nullptr, nullptr, nullptr);
        if (BN_cmp(p.get(), q.get()) < 0) BN_swap(p.get(), q.get());
        BN_sub(p1.get(), p.get(), one.get());
        BN_sub(q1.get(), q.get(), one.get());
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

// The key in the records' prime order (larger first), in both worlds.
RsaKey keyOfBits(int bits) {
    if (bits < 512) return smallKey(bits);
    const RsaKey& made = cachedRsaKey(static_cast<unsigned>(bits));
    R_RSA_PRIVATE_KEY ordered = privateKeyWithPrimeOrder(made, true);
    auto field = [](const unsigned char* f, std::size_t n) {
        Bytes b(f, f + n);
        b.erase(b.begin(), std::find_if(b.begin(), b.end(), [](std::uint8_t x) { return x != 0; }));
        return b;
    };
    constexpr std::size_t L = MAX_RSA_MODULUS_LEN, P = MAX_RSA_PRIME_LEN;
    return rsaKeyFromComponents({field(ordered.modulus, L), field(ordered.publicExponent, L),
                                 field(ordered.privateExponent, L), field(ordered.prime[0], P),
                                 field(ordered.prime[1], P), field(ordered.primeExponent[0], P),
                                 field(ordered.primeExponent[1], P), field(ordered.coefficient, P)});
}

template <typename Print>
std::string printed(Print print) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    print(bio.get());
    char* data = nullptr;
    long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(n));
}

template <typename Encode>
Bytes encoded(Encode encode) {
    unsigned char* der = nullptr;
    int n = encode(&der);
    Bytes out(der, der + (n > 0 ? n : 0));
    OPENSSL_free(der);
    return out;
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

TEST_P(KeyOutput, DerIsWhatLibcryptoEncodes) {
    RsaKey key = keyOfBits(GetParam());
    Bytes der;
    ASSERT_FALSE(rsaPublicKeyToDer(key.publicKey, der));
    EXPECT_EQ(der, encoded([&](unsigned char** out) { return i2d_PUBKEY(key.evp.get(), out); }));
    ASSERT_FALSE(rsaPublicKeyToDer(key.publicKey, der, RsaKeyFormat::pkcs1));
    EXPECT_EQ(der, encoded([&](unsigned char** out) { return i2d_PublicKey(key.evp.get(), out); }));
    ASSERT_FALSE(rsaPrivateKeyToDer(key.privateKey, der, RsaKeyFormat::pkcs1));
    EXPECT_EQ(der, encoded([&](unsigned char** out) { return i2d_PrivateKey(key.evp.get(), out); }));
    ASSERT_FALSE(rsaPrivateKeyToDer(key.privateKey, der));
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, decltype(&PKCS8_PRIV_KEY_INFO_free)> info(
        EVP_PKEY2PKCS8(key.evp.get()), PKCS8_PRIV_KEY_INFO_free);
    EXPECT_EQ(der, encoded([&](unsigned char** out) { return i2d_PKCS8_PRIV_KEY_INFO(info.get(), out); }));

    // Encrypted, it is PKCS #8's EncryptedPrivateKeyInfo, and reads back only
    // under its passphrase.
    ASSERT_FALSE(rsaPrivateKeyToDer(key.privateKey, der, RsaKeyFormat::standard, "der passphrase"));
    R_RSA_PRIVATE_KEY back{};
    EXPECT_EQ(loadRsaPrivateKey(der, back, "wrong").error, make_error_code(ErrorCode::wrongPassphrase));
    ASSERT_TRUE(loadRsaPrivateKey(der, back, "der passphrase"));
    EXPECT_EQ(std::memcmp(&back, &key.privateKey, sizeof back), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, KeyOutput, ::testing::Values(96, 128, 160, 512, 768, 1024));

TEST(KeyOutputRefusals, BadRecordsAndTheEncryptedPkcs1DerAreRefused) {
    const RsaKey& key = cachedRsaKey(512);
    Bytes der = {1, 2, 3};
    EXPECT_EQ(rsaPrivateKeyToDer(key.privateKey, der, RsaKeyFormat::pkcs1, "p"),
              make_error_code(ErrorCode::invalidInput));
    EXPECT_EQ(der, (Bytes{1, 2, 3}));
    R_RSA_PRIVATE_KEY incomplete = key.privateKey;
    std::memset(incomplete.coefficient, 0, sizeof incomplete.coefficient);
    std::string text;
    EXPECT_EQ(rsaPrivateKeyToText(incomplete, text), make_error_code(ErrorCode::keyIncomplete));
    EXPECT_EQ(rsaPrivateKeyToDer(incomplete, der), make_error_code(ErrorCode::keyIncomplete));
    R_RSA_PUBLIC_KEY even = key.publicKey;
    even.modulus[MAX_RSA_MODULUS_LEN - 1] &= 0xfe;
    EXPECT_EQ(rsaPublicKeyToText(even, text), make_error_code(ErrorCode::keyInvalid));
    EXPECT_EQ(rsaPublicKeyToDer(even, der), make_error_code(ErrorCode::keyInvalid));
}

}  // namespace
