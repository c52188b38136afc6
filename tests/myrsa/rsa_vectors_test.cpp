// The RSA block operations on published vectors: the RSA Laboratories
// PKCS #1 v1.5 encryption and signature examples and Wycheproof's 1024-bit
// signature-generation tests.
#include <Corvane/rsa.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "tests/support/rsa/rsa_calls.h"
#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/rsa/rsa_vectors.h"
#include "tests/support/test_support.h"

using namespace corvane::test;

namespace {

// hash name -> DER prefix of its DigestInfo
Bytes digestInfoPrefix(const std::string& hash) {
    for (const auto& r : readVecFile(ourVector("digest_info_prefixes.vec")))
        if (r.at("hash") == hash) return fromHex(r.at("prefix"));
    throw std::runtime_error("no DigestInfo prefix for " + hash);
}

// The DigestInfo that a signature block carries: prefix, then the hash
// of the message computed by OpenSSL.
Bytes digestInfo(const std::string& hash, const Bytes& message) {
    struct MdFree {
        void operator()(EVP_MD* md) const { EVP_MD_free(md); }
    };
    std::unique_ptr<EVP_MD, MdFree> md(EVP_MD_fetch(nullptr, hash.c_str(), nullptr));
    if (!md) throw std::runtime_error("OpenSSL has no digest " + hash);
    Bytes out = digestInfoPrefix(hash);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_Digest(message.data(), message.size(), digest, &len, md.get(), nullptr) != 1)
        throw std::runtime_error("EVP_Digest failed");
    out.insert(out.end(), digest, digest + len);
    return out;
}

std::vector<PublishedRsaKey> publishedKeys(const std::string& file) {
    auto path = publishedVector("rsa-labs-pkcs1/" + file);
    if (!path) return {};
    return readRsaLabsVectors(*path);
}

#define SKIP_WITHOUT(keys, file) \
    if ((keys).empty()) GTEST_SKIP() << publishedVectorAbsent(std::string("rsa-labs-pkcs1/") + (file))

}  // namespace

TEST(RsaPublishedVectors, EncryptionExamplesOf1024BitKeysDecrypt) {
    auto keys = publishedKeys("pkcs1v15crypt-vectors.txt");
    SKIP_WITHOUT(keys, "pkcs1v15crypt-vectors.txt");
    ASSERT_EQ(keys.size(), 15u);
    std::size_t checked = 0;
    for (const auto& k : keys) {
        R_RSA_PUBLIC_KEY pub;
        R_RSA_PRIVATE_KEY priv;
        if (!fillRsaRecords(k.parts, &pub, &priv)) continue;  // larger keys: see below
        ASSERT_EQ(pub.bits, 1024) << k.name;
        // The published keys and the same keys with the primes swapped.
        RsaKey key = rsaKeyFromComponents(k.parts);
        const R_RSA_PRIVATE_KEY orders[] = {privateKeyWithPrimeOrder(key, true),
                                            privateKeyWithPrimeOrder(key, false)};
        ASSERT_EQ(k.examples.size(), 20u) << k.name;
        for (const auto& e : k.examples) {
            ASSERT_EQ(e.result.size(), 128u) << e.name;
            for (const auto& order : orders) {
                RsaResult r = callPrivateDecrypt(order, e.result);
                ASSERT_EQ(r.status, 0) << "example " << e.name;
                EXPECT_EQ(toHex(r.out), toHex(e.message)) << "example " << e.name;
            }
            checked++;
        }
    }
    EXPECT_EQ(checked, 120u);
}

TEST(RsaPublishedVectors, SignatureExamplesOf1024BitKeysAreReproduced) {
    auto keys = publishedKeys("pkcs1v15sign-vectors.txt");
    SKIP_WITHOUT(keys, "pkcs1v15sign-vectors.txt");
    ASSERT_EQ(keys.size(), 15u);
    std::size_t checked = 0;
    for (const auto& k : keys) {
        R_RSA_PUBLIC_KEY pub;
        R_RSA_PRIVATE_KEY priv;
        if (!fillRsaRecords(k.parts, &pub, &priv)) continue;
        ASSERT_EQ(k.examples.size(), 20u) << k.name;
        for (const auto& e : k.examples) {
            Bytes info = digestInfo("SHA-1", e.message);
            RsaResult s = callPrivateEncrypt(priv, info);
            ASSERT_EQ(s.status, 0) << "example " << e.name;
            EXPECT_EQ(toHex(s.out), toHex(e.result)) << "example " << e.name;
            RsaResult back = callPublicDecrypt(pub, e.result);
            ASSERT_EQ(back.status, 0) << "example " << e.name;
            EXPECT_EQ(toHex(back.out), toHex(info)) << "example " << e.name;
            checked++;
        }
    }
    EXPECT_EQ(checked, 120u);
}

TEST(RsaPublishedVectors, KeysAbove1024BitsAreRefused) {
    std::size_t refused = 0;
    for (const char* file : {"pkcs1v15crypt-vectors.txt", "pkcs1v15sign-vectors.txt"}) {
        auto keys = publishedKeys(file);
        SKIP_WITHOUT(keys, file);
        for (const auto& k : keys) {
            R_RSA_PUBLIC_KEY pub;
            R_RSA_PRIVATE_KEY priv;
            if (fillRsaRecords(k.parts, &pub, &priv)) continue;
            // The records keep only the bit count; every operation must
            // refuse it before it reads a field or writes the output.
            ASSERT_GT(pub.bits, 1024) << k.name;
            ASSERT_FALSE(k.examples.empty());
            const auto& e = k.examples.front();
            R_RANDOM_STRUCT pool = seededTestPool(1);
            EXPECT_EQ(callPublicEncrypt(pub, e.message, pool).status, QV_STATUS_BAD_LENGTH) << k.name;
            EXPECT_EQ(callPrivateEncrypt(priv, e.message).status, QV_STATUS_BAD_LENGTH) << k.name;
            EXPECT_EQ(callPublicDecrypt(pub, e.result).status, QV_STATUS_BAD_LENGTH) << k.name;
            EXPECT_EQ(callPrivateDecrypt(priv, e.result).status, QV_STATUS_BAD_LENGTH) << k.name;
            refused++;
        }
    }
    EXPECT_EQ(refused, 18u);
}

TEST(RsaPublishedVectors, WycheproofSignaturesAreReproduced) {
    auto path = publishedVector("wycheproof/rsa_pkcs1_1024_sig_gen_test.json");
    if (!path) GTEST_SKIP() << publishedVectorAbsent("wycheproof/rsa_pkcs1_1024_sig_gen_test.json");
    Json doc = parseJson(readTextFile(*path));
    std::size_t checked = 0, unrepresentable = 0;
    for (const Json& group : doc["testGroups"].items) {
        RsaKey key = rsaKeyFromPem(group["privateKeyPem"].text);
        ASSERT_EQ(key.bits, 1024u);
        const std::string& hash = group["sha"].text;
        if (!key.fitsRecords) {
            // One key has a 513-bit prime: a 1024-bit modulus whose CRT form
            // does not fit the 64-byte prime fields of the record.
            unrepresentable += group["tests"].items.size();
            continue;
        }
        for (const Json& test : group["tests"].items) {
            const std::string& result = test["result"].text;
            if (result != "valid" && result != "acceptable") continue;
            SCOPED_TRACE("tcId " + test["tcId"].text + " (" + hash + ")");
            Bytes info = digestInfo(hash, fromHex(test["msg"].text));
            RsaResult s = callPrivateEncrypt(key.privateKey, info);
            ASSERT_EQ(s.status, 0);
            EXPECT_EQ(toHex(s.out), test["sig"].text);
            checked++;
        }
    }
    EXPECT_EQ(checked + unrepresentable, static_cast<std::size_t>(std::stoul(doc["numberOfTests"].text)));
    EXPECT_EQ(unrepresentable, 1u);
}
