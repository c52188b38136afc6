// Envelopes: what legacy clients (QVSimpleRSA and QVDes3) and OpenSSL make
// opens, what sealEnvelope makes the legacy path and OpenSSL open, every
// damaged envelope gets the one refusal, and a sender who varies the wrapped
// key sees the same refusal rate whether its block is well formed or not.
#include <Corvane/Foundation.h>
#include <Corvane/QVDes3.h>
#include <Corvane/QVSimpleRSA.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <Corvane/corvane.hpp>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/nn_testing.h"
#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"
#include "tests/support/timing_classes.h"

using namespace corvane;
using namespace corvane::test;
namespace cv = corvane::v1;

namespace {

const cv::RsaPrivateKey& privateKey(unsigned bits) {
    static const cv::RsaPrivateKey k512 = cv::RsaPrivateKey::fromRecord(cachedRsaKey(512).privateKey);
    static const cv::RsaPrivateKey k1024 = cv::RsaPrivateKey::fromRecord(cachedRsaKey(1024).privateKey);
    return bits == 512 ? k512 : k1024;
}

// A triple-DES CBC encryption with OpenSSL, IV = the key's first 8 bytes.
Bytes opensslDes3(const Bytes& data, const Bytes& key, bool encrypt) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(data.size() + 16);
    int n = 0, tail = 0;
    const bool ok = EVP_CipherInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, key.data(), key.data(), encrypt ? 1 : 0) == 1 &&
                    EVP_CipherUpdate(ctx, out.data(), &n, data.data(), static_cast<int>(data.size())) == 1 &&
                    EVP_CipherFinal_ex(ctx, out.data() + n, &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) return {};
    out.resize(static_cast<std::size_t>(n + tail));
    return out;
}

Bytes dataBytes(const NSData* data) { return data != nullptr ? Bytes(data->span().begin(), data->span().end()) : Bytes(); }

struct Made {
    std::string by;
    cv::Envelope envelope;
    Bytes message;
};

// Envelopes of the legacy client's path: a random text key from QVDes3,
// wrapped by QVSimpleRSA (a 512-bit key given in hexadecimal), the payload
// by QVDes3 with no IV.
Made legacyClientEnvelope(const Bytes& message) {
    const RsaKey& k = cachedRsaKey(512);
    auto rsa = make_ref<QVSimpleRSA>();
    EXPECT_EQ(rsa->setPublicKey(toHex(k.parts.n).c_str(), toHex(k.parts.e).c_str()), 0);
    Ref<NSData> key = QVDes3::createRandomDes3Key();
    std::int32_t error = 0;
    Ref<NSData> wrapped = rsa->createEncryptDataForData(key.get(), &error);
    auto data = make_ref<NSData>(message.data(), message.size());
    Ref<NSData> payload = QVDes3::createDes3EncryptData(data.get(), key.get(), nullptr, &error);
    return {"QVSimpleRSA and QVDes3", {dataBytes(wrapped.get()), dataBytes(payload.get())}, message};
}

Made opensslEnvelope(const Bytes& message, unsigned bits) {
    Rng rng(bits + message.size());
    const Bytes key = rng.bytes(24);
    return {"OpenSSL", {*opensslPublicEncrypt(cachedRsaKey(bits), key, RSA_PKCS1_PADDING), opensslDes3(message, key, true)},
            message};
}

TEST(Envelope, OpensWhatLegacyClientsAndOpenSslMake) {
    std::vector<Made> made;
    for (std::size_t length : {0, 1, 7, 8, 255, 4096}) {
        const Bytes message = Rng(length).bytes(length);
        made.push_back(legacyClientEnvelope(message));
        made.push_back(opensslEnvelope(message, 512));
        made.push_back(opensslEnvelope(message, 1024));
    }
    std::vector<cv::EnvelopeView> views;
    for (const Made& m : made) {
        const cv::RsaPrivateKey& key = privateKey(m.envelope.wrappedKey.size() == 64 ? 512 : 1024);
        EXPECT_EQ(cv::openEnvelope(key, m.envelope.wrappedKey, m.envelope.payload), m.message) << m.by;
        if (&key == &privateKey(1024)) views.push_back({m.envelope.wrappedKey, m.envelope.payload});
    }
    const auto opened = cv::openEnvelopes(privateKey(1024), views);
    ASSERT_EQ(opened.size(), 6u);
    for (std::size_t i = 0; i < opened.size(); ++i) EXPECT_EQ(opened[i].bytes, made[3 * i + 2].message);
}

// What sealEnvelope makes, the legacy receiving path (QV_RSAPrivateDecrypt,
// then QVDes3 with no IV) and OpenSSL open, with either form of key.
TEST(Envelope, SealedEnvelopesOpenEverywhere) {
    cv::RandomPool pool;
    for (cv::Des3KeyForm form : {cv::Des3KeyForm::bytes, cv::Des3KeyForm::hexText}) {
        for (std::size_t length : {0, 13, 256}) {
            const Bytes message = Rng(length + 1).bytes(length);
            const cv::Envelope e = cv::sealEnvelope(privateKey(1024).publicKey(), message, pool, form);
            EXPECT_EQ(e.payload.size(), length / 8 * 8 + 8);
            EXPECT_EQ(cv::openEnvelope(privateKey(1024), e.wrappedKey, e.payload), message);

            Bytes key(128);
            std::uint32_t keyLen = 0;
            ASSERT_EQ(QV_RSAPrivateDecrypt(key.data(), &keyLen, e.wrappedKey.data(),
                                           static_cast<std::uint32_t>(e.wrappedKey.size()), &cachedRsaKey(1024).privateKey),
                      0);
            key.resize(keyLen);
            ASSERT_EQ(key.size(), 24u);
            if (form == cv::Des3KeyForm::hexText) {
                EXPECT_EQ(key.end(), std::find_if(key.begin(), key.end(), [](std::uint8_t c) {
                              return !std::isxdigit(c) || std::islower(c);
                          }));
            }
            auto keyData = make_ref<NSData>(key.data(), key.size());
            auto payload = make_ref<NSData>(e.payload.data(), e.payload.size());
            std::int32_t error = 0;
            EXPECT_EQ(dataBytes(QVDes3::createDes3DecryptData(payload.get(), keyData.get(), nullptr, &error).get()), message);
            EXPECT_EQ(opensslDes3(e.payload, key, false), message);
        }
    }
    const auto sealed = cv::sealEnvelopes(privateKey(512).publicKey(), std::vector<cv::ByteView>{"a", "bc"}, pool);
    EXPECT_EQ(cv::openEnvelope(privateKey(512), sealed[1].wrappedKey, sealed[1].payload), bytesOf("bc"));
    // 272 bits: 34-byte blocks hold 23 bytes of message, one short of a key.
    const cv::RsaPublicKey small = cv::RsaPublicKey::fromHex(std::string(67, 'c') + "d", "010001");
    EXPECT_THROW(cv::sealEnvelope(small, "x"), cv::Error);
}

// Every damage gets the same code and the same message, one at a time and
// in a batch, whichever step it breaks.
TEST(Envelope, EveryDamageIsTheOneRefusal) {
    // A fixed key and fixed blocks: a damaged wrapped key gives a substitute
    // key, under which the payload ends in valid padding once in 256, so
    // each case must be the same on every run.
    static const RsaKey fixed = [] {
        for (const auto& r : readVecFile(ourVector("constant_time_keys.vec")))
            if (r.at("bits") == "1024")
                return rsaKeyFromComponents({fromHex(r.at("n")), fromHex(r.at("e")), fromHex(r.at("d")),
                                             fromHex(r.at("p")), fromHex(r.at("q")), fromHex(r.at("dP")),
                                             fromHex(r.at("dQ")), fromHex(r.at("qInvModP"))});
        throw std::runtime_error("no 1024-bit key");
    }();
    const cv::RsaPrivateKey key = cv::RsaPrivateKey::fromRecord(fixed.privateKey);
    const cv::RsaPublicKey pub = key.publicKey();
    cv::RandomPool pool = cv::RandomPool::fromSeed(std::string(256, 'e'));
    const Bytes desKey = Rng(1).bytes(24), message = bytesOf("a message of some length");
    const Bytes w = pub.encrypt(desKey, pool);
    const Bytes p = opensslDes3(message, desKey, true);
    auto flipped = [](Bytes b, std::size_t at) {
        b[at] ^= 0x40;
        return b;
    };
    Bytes notType2(128, 0x5a);
    notType2[0] = 0;
    const std::vector<std::pair<std::string, cv::Envelope>> damaged = {
        {"wrapped key one byte short", {Bytes(w.begin() + 1, w.end()), p}},
        {"wrapped key one byte long", {[&] { Bytes b = w; b.push_back(0); return b; }(), p}},
        {"wrapped key above the modulus", {Bytes(128, 0xff), p}},
        {"wrapped key damaged", {flipped(w, 40), p}},
        {"not a type-2 block", {*opensslPublicEncrypt(fixed, notType2, RSA_NO_PADDING), p}},
        {"a 16-byte key", {pub.encrypt(Bytes(16, 1), pool), p}},
        {"a 32-byte key", {pub.encrypt(Bytes(32, 1), pool), p}},
        {"another key", {pub.encrypt(Bytes(24, 1), pool), p}},
        {"payload empty", {w, {}}},
        {"payload not whole blocks", {w, Bytes(p.begin(), p.end() - 1)}},
        {"payload's last block damaged", {w, flipped(p, p.size() - 1)}},
    };
    std::vector<cv::EnvelopeView> views;
    for (const auto& [what, e] : damaged) {
        std::error_code error;
        EXPECT_TRUE(cv::openEnvelope(key, e.wrappedKey, e.payload, error).empty());
        EXPECT_EQ(error, ErrorCode::envelopeRefused) << what;
        try {
            cv::openEnvelope(key, e.wrappedKey, e.payload);
            ADD_FAILURE() << what << " opened";
        } catch (const cv::Error& thrown) {
            EXPECT_EQ(std::string(thrown.what()), error.message()) << what;
        }
        views.push_back({e.wrappedKey, e.payload});
    }
    views.push_back({w, p});
    const auto opened = cv::openEnvelopes(key, views);
    for (std::size_t i = 0; i < damaged.size(); ++i) EXPECT_EQ(opened[i].error, ErrorCode::envelopeRefused) << damaged[i].first;
    EXPECT_EQ(opened.back().bytes, message);
}

// The attack the refusal is built against: the sender keeps a payload and
// sends wrapped keys of its choosing, well-formed blocks of 24 bytes,
// blocks of other lengths and malformed blocks. A substitute key opens the
// payload exactly as often as a wrong real key does (about one in 256 ends
// in valid padding), so the refusal rates agree.
TEST(Envelope, RefusalRateDoesNotTellWellFormedBlocksApart) {
    const cv::RsaPrivateKey& key = privateKey(1024);
    const cv::RsaPublicKey pub = key.publicKey();
    const Bytes payload = opensslEnvelope(bytesOf("the attacker's fixed payload"), 1024).envelope.payload;
    const std::size_t perClass = nnCases(10000);
    Rng rng(3611);
    std::vector<Bytes> blocks;
    for (std::size_t i = 0; i < 3 * perClass; ++i) {
        Bytes block;
        if (i % 3 == 0) {
            block = pub.encrypt(rng.bytes(24));
        } else if (i % 3 == 1) {
            block = pub.encrypt(rng.bytes(rng.range(0, 1) == 0 ? 23 : 25));
        } else {
            block = rng.bytes(128);
            block[0] &= 0x7f;  // below the modulus, decrypts to noise
        }
        blocks.push_back(block);
    }
    std::vector<cv::EnvelopeView> views;
    for (const Bytes& b : blocks) views.push_back({b, payload});
    const auto opened = cv::openEnvelopes(key, views);
    double opens[3] = {};
    for (std::size_t i = 0; i < opened.size(); ++i) {
        if (!opened[i].error) opens[i % 3] += 1;
        else EXPECT_EQ(opened[i].error, ErrorCode::envelopeRefused);
    }
    // Two-proportion z statistic of each class against the well-formed one.
    const double n = static_cast<double>(perClass);
    for (int c = 1; c < 3; ++c) {
        const double pooled = (opens[0] + opens[c]) / (2 * n);
        const double spread = std::sqrt(2 * pooled * (1 - pooled) / n);
        const double z = spread > 0 ? (opens[0] - opens[c]) / n / spread : 0;
        EXPECT_LT(std::fabs(z), 4.5) << "opened: " << opens[0] << " well formed, " << opens[c]
                                     << (c == 1 ? " other lengths" : " malformed") << " of " << perClass;
    }
    EXPECT_GT(opens[2], 0) << "substitute keys must open as often as wrong keys do";
    RecordProperty("opened", std::to_string(opens[0]) + " well formed, " + std::to_string(opens[1]) +
                                 " other lengths, " + std::to_string(opens[2]) + " malformed, of " +
                                 std::to_string(perClass) + " each");
}

// A refusal takes the same time whichever step failed: a malformed wrapped
// key, a wrapped key of another length, or a good key whose payload's
// padding does not check out (a dudect-style t-test; 10^6 calls per class
// with CORVANE_LONG_TESTS=1).
TEST(Envelope, RefusalTimeDoesNotTellTheStep) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "under a sanitizer its own bookkeeping is what gets timed";
#endif
    const cv::RsaPrivateKey& key = privateKey(1024);
    const cv::RsaPublicKey pub = key.publicKey();
    Rng rng(3612);
    struct Refused {
        Bytes wrappedKey, payload;
    };
    // Many distinct envelopes per class in the long run, so that what one
    // block costs beside another averages out (see DecryptKey's time test).
    const std::size_t distinct = longTestFactor() > 1 ? 1024 : 16;
    std::vector<std::vector<Refused>> classes(3);
    while (classes[0].size() < distinct || classes[1].size() < distinct || classes[2].size() < distinct) {
        const Bytes desKey = rng.bytes(24), payload = rng.bytes(256);
        Bytes noise = rng.bytes(128);
        noise[0] = 0x01;
        const Refused candidates[3] = {{noise, payload}, {pub.encrypt(rng.bytes(23)), payload}, {pub.encrypt(desKey), payload}};
        for (int c = 0; c < 3; ++c) {
            std::error_code error;
            cv::openEnvelope(key, candidates[c].wrappedKey, candidates[c].payload, error);
            if (error && classes[c].size() < distinct) classes[c].push_back(candidates[c]);
        }
    }
    const std::size_t perClass = longTestFactor() > 1 ? 1000000 : 3000;
    const auto comparisons = compareClassTimes(3, perClass, [&](std::size_t c, std::size_t i) {
        std::error_code error;
        const Refused& r = classes[c][i % distinct];
        EXPECT_TRUE(cv::openEnvelope(key, r.wrappedKey, r.payload, error).empty());
    });
    const std::vector<std::string> names = {"malformed key", "key of 23 bytes", "payload's padding"};
    RecordProperty("t", describe(comparisons, names));
    EXPECT_LT(largestT(comparisons), kLeakThreshold) << describe(comparisons, names);
}

}  // namespace
