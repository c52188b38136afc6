// Decryption that never tells a malformed block apart: implicit rejection
// against OpenSSL's known answers, decryptKey against the same answers and
// the block it unwraps, the errors kept for what anyone can see, and the
// time of decryptKey on well-formed, malformed and wrong-length blocks.
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>
#include <map>
#include <string>
#include <vector>

#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"
#include "tests/support/timing_classes.h"

namespace cv = corvane::v1;
using corvane::ErrorCode;
using corvane::test::Bytes;
using corvane::test::fromHex;

namespace {

struct KnownAnswer {
    std::string key, comment;
    Bytes ciphertext, message;
};

struct KnownAnswers {
    std::map<std::string, cv::RsaPrivateKey> keys;
    std::vector<KnownAnswer> cases;
};

const KnownAnswers& knownAnswers() {
    static const KnownAnswers answers = [] {
        KnownAnswers read;
        for (const auto& r : corvane::test::readVecFile(corvane::test::ourVector("rsa_implicit_rejection.vec"))) {
            if (r.count("n") != 0) {
                corvane::test::RsaComponents parts{fromHex(r.at("n")),  fromHex(r.at("e")),  fromHex(r.at("d")),
                                                   fromHex(r.at("p")),  fromHex(r.at("q")),  fromHex(r.at("dP")),
                                                   fromHex(r.at("dQ")), fromHex(r.at("qInv"))};
                read.keys.emplace(r.at("key"), cv::RsaPrivateKey::fromRecord(
                                                   corvane::test::rsaKeyFromComponents(parts).privateKey));
            } else {
                read.cases.push_back({r.at("key"), r.at("comment"), fromHex(r.at("ciphertext")), fromHex(r.at("message"))});
            }
        }
        return read;
    }();
    return answers;
}

bool wellFormed(const KnownAnswer& c) { return c.comment.rfind("well formed", 0) == 0; }

// Each answer OpenSSL gave, one by one and as a batch under each key; a
// malformed block is refused with badData when rejection is reported.
TEST(ImplicitRejection, GivesOpenSslsAnswerForEveryBlock) {
    const KnownAnswers& answers = knownAnswers();
    ASSERT_EQ(answers.keys.size(), 3u);
    ASSERT_GE(answers.cases.size(), 45u);
    std::map<std::string, std::vector<cv::ByteView>> blocksByKey;
    std::map<std::string, std::vector<const KnownAnswer*>> casesByKey;
    for (const KnownAnswer& c : answers.cases) {
        const cv::RsaPrivateKey& key = answers.keys.at(c.key);
        EXPECT_EQ(key.decrypt(c.ciphertext, cv::RsaRejection::implicit), c.message) << c.key << ": " << c.comment;
        std::error_code error;
        const Bytes reported = key.decrypt(c.ciphertext, cv::RsaRejection::report, error);
        if (wellFormed(c))
            EXPECT_EQ(reported, c.message) << c.comment;
        else
            EXPECT_EQ(error, ErrorCode::badData) << c.comment;
        blocksByKey[c.key].emplace_back(c.ciphertext);
        casesByKey[c.key].push_back(&c);
    }
    for (const auto& [name, blocks] : blocksByKey) {
        const auto results = answers.keys.at(name).decryptBatch(blocks, cv::RsaRejection::implicit);
        for (std::size_t i = 0; i < results.size(); ++i) {
            EXPECT_FALSE(results[i].error) << casesByKey[name][i]->comment;
            EXPECT_EQ(results[i].bytes, casesByKey[name][i]->message) << name << ": " << casesByKey[name][i]->comment;
        }
    }
}

// decryptKey's substitute is the tail of the same derivation: wherever
// OpenSSL's substitute message has at least keySize bytes, decryptKey gives
// its last keySize bytes; a well-formed block with a message of keySize
// bytes gives that message, one of another length a substitute.
TEST(DecryptKey, AgreesWithTheImplicitRejectionAnswers) {
    const KnownAnswers& answers = knownAnswers();
    std::size_t compared = 0;
    for (const KnownAnswer& c : answers.cases) {
        const cv::RsaPrivateKey& key = answers.keys.at(c.key);
        for (std::size_t keySize : {std::size_t{8}, std::size_t{24}}) {
            if (c.message.size() < keySize) continue;
            const Bytes tail(c.message.end() - static_cast<std::ptrdiff_t>(keySize), c.message.end());
            const Bytes unwrapped = key.decryptKey(c.ciphertext, keySize);
            ASSERT_EQ(unwrapped.size(), keySize);
            if (wellFormed(c) && c.message.size() != keySize)
                EXPECT_NE(unwrapped, tail) << c.comment << ": a message of another length is not taken";
            else
                EXPECT_EQ(unwrapped, tail) << c.key << ": " << c.comment << ", " << keySize << " bytes";
            const auto batch = key.decryptKeyBatch(std::vector<cv::ByteView>{c.ciphertext}, keySize);
            EXPECT_EQ(batch.at(0).bytes, unwrapped);
            ++compared;
        }
    }
    EXPECT_GE(compared, 40u);
}

// Only what anyone can see is an error: the block's length (and its value
// against the modulus), and a key size the blocks cannot hold.
TEST(DecryptKey, RefusesOnlyWhatIsPublic) {
    const corvane::test::RsaKey& k = corvane::test::cachedRsaKey(1024);
    const cv::RsaPrivateKey key = cv::RsaPrivateKey::fromRecord(k.privateKey);
    const Bytes block = key.publicKey().encrypt(Bytes(24, 7));
    struct Case {
        Bytes block;
        std::size_t keySize;
        ErrorCode expected;
    };
    const Bytes& n = k.parts.n;
    const Case cases[] = {{Bytes(block.begin() + 1, block.end()), 24, ErrorCode::badLength},
                          {Bytes(129, 1), 24, ErrorCode::badLength},
                          {block, 0, ErrorCode::invalidInput},
                          {block, 118, ErrorCode::invalidInput},
                          {n, 24, ErrorCode::badData},
                          {Bytes(128, 0xff), 24, ErrorCode::badData}};
    for (const Case& c : cases) {
        std::error_code error;
        EXPECT_TRUE(key.decryptKey(c.block, c.keySize, error).empty());
        EXPECT_EQ(error, c.expected) << c.block.size() << " bytes, key size " << c.keySize;
        EXPECT_THROW(key.decryptKey(c.block, c.keySize), cv::Error);
    }
    EXPECT_EQ(key.decryptKey(block, 117).size(), 117u);
    const auto batch = key.decryptKeyBatch(std::vector<cv::ByteView>{cases[0].block, block, cases[4].block}, 24);
    EXPECT_EQ(batch[0].error, ErrorCode::badLength);
    EXPECT_EQ(batch[1].bytes, Bytes(24, 7));
    EXPECT_EQ(batch[2].error, ErrorCode::badData);
    EXPECT_THROW(key.decryptKeyBatch(std::vector<cv::ByteView>{block}, 0), cv::Error);
}

// A substitute is the same for the same block (and in a copy of the key),
// and another key gives another: it comes from the private exponent.
TEST(DecryptKey, SubstitutesAreStableAndKeyed) {
    const cv::RsaPrivateKey a = cv::RsaPrivateKey::fromRecord(corvane::test::cachedRsaKey(1024).privateKey);
    const cv::RsaPrivateKey b = cv::RsaPrivateKey::fromRecord(corvane::test::generateRsaKey(1024).privateKey);
    const Bytes block(128, 0x01);  // below both moduli, decrypts to noise
    const Bytes first = a.decryptKey(block, 24);
    EXPECT_EQ(a.decryptKey(block, 24), first);
    EXPECT_EQ(cv::RsaPrivateKey(a).decryptKey(block, 24), first) << "a copy keeps the secret";
    EXPECT_NE(b.decryptKey(block, 24), first);
}

// decryptKey takes the same time for a well-formed block with a message of
// the right length, a malformed block and a well-formed block with a
// message of another length (a dudect-style t-test; 10^6 calls per class
// with CORVANE_LONG_TESTS=1).
TEST(DecryptKey, TimeDoesNotTellTheBlocksApart) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "under a sanitizer its own bookkeeping is what gets timed";
#endif
    const cv::RsaPrivateKey key = cv::RsaPrivateKey::fromRecord(corvane::test::cachedRsaKey(1024).privateKey);
    const cv::RsaPublicKey pub = key.publicKey();
    corvane::test::Rng rng(36);
    // Many distinct blocks per class in the long run: two blocks of one class
    // differ by a few cycles as well (|t| near 5 between two sets of 16
    // well-formed blocks at 10^6 calls), which a few blocks would pass off as
    // a difference between the classes.
    const std::size_t distinct = corvane::test::longTestFactor() > 1 ? 1024 : 16;
    std::vector<std::vector<Bytes>> blocks(3);
    for (std::size_t i = 0; i < distinct; ++i) {
        blocks[0].push_back(pub.encrypt(rng.bytes(24)));
        Bytes noise = rng.bytes(128);
        noise[0] = 0x01;  // below the modulus, and not a type-2 block
        blocks[1].push_back(noise);
        blocks[2].push_back(pub.encrypt(rng.bytes(23 + 2 * (i % 2))));
    }
    const std::size_t perClass = corvane::test::longTestFactor() > 1 ? 1000000 : 3000;
    const auto comparisons = corvane::test::compareClassTimes(3, perClass, [&](std::size_t c, std::size_t i) {
        std::error_code error;
        const Bytes unwrapped = key.decryptKey(blocks[c][i % distinct], 24, error);
        EXPECT_EQ(unwrapped.size(), 24u);
    });
    RecordProperty("t", corvane::test::describe(comparisons, {"well formed", "malformed", "wrong length"}));
    EXPECT_LT(corvane::test::largestT(comparisons), corvane::test::kLeakThreshold)
        << corvane::test::describe(comparisons, {"well formed", "malformed", "wrong length"});
}

}  // namespace
