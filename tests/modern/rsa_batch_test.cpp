// The key objects' batches and their set-up kept with the key: every item of
// a batch gets exactly what the single operation gives it (result or
// error), whatever the other items hold and however many there are (fewer
// than, exactly and more than one engine batch of 8); results that fail the
// check before release are refused item by item; copies and moves carry the
// set-up along and leave none behind. Runs on whichever tier CORVANE_CPU
// selects (CTest runs it on each).
#include <Corvane/rsa.h>
#include <gtest/gtest.h>
#include <openssl/rsa.h>

#include <Corvane/corvane.hpp>
#include <cstring>
#include <string>
#include <vector>

#include "engine/bignum/word.h"
#include "myrsa/rsa_blocks.h"
#include "myrsa/rsa_seams.h"
#include "tests/support/rsa/rsa_calls.h"
#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

using namespace corvane::test;
namespace cv = corvane::v1;
namespace seams = corvane::test_seams;

namespace {

// What the single operation gives an item.
struct Single {
    Bytes bytes;
    std::error_code error;
};

void expectSame(const std::vector<cv::RsaBatchResult>& batch, const std::vector<Single>& single,
                const std::string& where) {
    ASSERT_EQ(batch.size(), single.size()) << where;
    for (std::size_t i = 0; i < batch.size(); i++) {
        EXPECT_EQ(batch[i].error, single[i].error) << where << ", item " << i;
        EXPECT_EQ(batch[i].bytes, single[i].bytes) << where << ", item " << i;
    }
}

// Items of every kind, bad ones mixed in at fixed places: blocks to decrypt
// (a good one, one a byte too long, one whose value is not below n, one
// whose padding is of the wrong type) or messages to sign (short, longest,
// one byte too long).
std::vector<Bytes> decryptInputs(const RsaKey& key, std::size_t count, Rng& rng) {
    const std::size_t len = key.modulusLen();
    std::vector<Bytes> items;
    for (std::size_t i = 0; i < count; i++) {
        switch (i % 5) {
            case 1: items.push_back(rng.bytes(len + 1)); break;
            case 3: items.push_back(Bytes(len, 0xFF)); break;
            case 4: {
                Bytes block = rng.bytes(len);
                block[0] = 0;
                block[1] = 1;  // type 1 where type 2 belongs
                items.push_back(*opensslPublicEncrypt(key, block, RSA_NO_PADDING));
                break;
            }
            default: items.push_back(*opensslPublicEncrypt(key, rng.bytes(i % len % 40), RSA_PKCS1_PADDING));
        }
    }
    return items;
}

std::vector<Bytes> signInputs(const RsaKey& key, std::size_t count, Rng& rng) {
    const std::size_t longest = key.modulusLen() - 11;
    std::vector<Bytes> items;
    for (std::size_t i = 0; i < count; i++)
        items.push_back(rng.bytes(i % 4 == 1 ? longest + 1 : i % 4 == 2 ? longest : i % 30));
    return items;
}

std::vector<cv::ByteView> viewsOf(const std::vector<Bytes>& items) {
    return std::vector<cv::ByteView>(items.begin(), items.end());
}

const std::size_t kBatchSizes[] = {0, 1, 7, 8, 9, 17};
const unsigned kKeyBits[] = {1024, 768, 512};

TEST(RsaBatch, EveryItemGetsWhatTheSingleOperationGivesIt) {
    Rng rng(0xba7c4);
    for (unsigned bits : kKeyBits) {
        const RsaKey& key = cachedRsaKey(bits);
        const cv::RsaPrivateKey priv = cv::RsaPrivateKey::fromRecord(key.privateKey);
        for (std::size_t count : kBatchSizes) {
            const std::string where = std::to_string(bits) + " bits, " + std::to_string(count) + " items";
            const std::vector<Bytes> blocks = decryptInputs(key, count, rng);
            std::vector<Single> single;
            for (const Bytes& block : blocks) {
                Single s;
                s.bytes = priv.decrypt(block, s.error);
                // The legacy function agrees.
                const RsaResult legacy = callPrivateDecrypt(key.privateKey, block);
                EXPECT_EQ(legacy.status, s.error ? s.error.value() : 0) << where;
                EXPECT_EQ(legacy.out, s.bytes) << where;
                single.push_back(s);
            }
            const std::vector<cv::ByteView> blockViews = viewsOf(blocks);
            expectSame(priv.decryptBatch(blockViews), single, "decrypt, " + where);

            const std::vector<Bytes> messages = signInputs(key, count, rng);
            single.clear();
            for (const Bytes& message : messages) {
                const RsaResult legacy = callPrivateEncrypt(key.privateKey, message);
                single.push_back({legacy.out, legacy.status == 0 ? std::error_code()
                                                                 : std::error_code(static_cast<corvane::ErrorCode>(
                                                                       legacy.status))});
            }
            const std::vector<cv::ByteView> messageViews = viewsOf(messages);
            expectSame(priv.signBatch(messageViews), single, "sign, " + where);

            // Public encryption: the blocks of encrypt() in turn from an
            // equally seeded pool.
            const cv::RsaPublicKey pub = priv.publicKey();
            const Bytes seed = rng.bytes(64);
            cv::RandomPool batchPool = cv::RandomPool::fromSeed(seed), singlePool = cv::RandomPool::fromSeed(seed);
            single.clear();
            for (const Bytes& message : messages) {
                Single s;
                try {
                    s.bytes = pub.encrypt(message, singlePool);
                } catch (const cv::Error& e) {
                    s.error = e.code();
                }
                single.push_back(s);
            }
            expectSame(pub.encryptBatch(messageViews, batchPool), single, "encrypt, " + where);
        }
    }
}

// A fault during the computation (the test seam flips a bit of one half's
// exponentiation or of the recombination) is caught for every item, and no
// item releases anything; a key whose coefficient does not belong to it is
// refused item by item through the block layer's batch.
TEST(RsaBatch, ResultsThatFailTheCheckAreRefusedItemByItem) {
    for (unsigned bits : {1024u, 512u}) {
        const RsaKey& key = cachedRsaKey(bits);
        const cv::RsaPrivateKey priv = cv::RsaPrivateKey::fromRecord(key.privateKey);
        Rng rng(bits);
        const std::vector<Bytes> messages = signInputs(key, 9, rng);
        const std::vector<cv::ByteView> views = viewsOf(messages);
        for (seams::CrtGlitch glitch : {seams::CrtGlitch::exponentiation, seams::CrtGlitch::recombination}) {
            seams::set_rsa_crt_glitch(glitch);
            const std::vector<cv::RsaBatchResult> results = priv.signBatch(views);
            seams::set_rsa_crt_glitch(seams::CrtGlitch::none);
            for (std::size_t i = 0; i < results.size(); i++) {
                const bool tooLong = messages[i].size() > key.modulusLen() - 11;
                EXPECT_EQ(results[i].error, tooLong ? corvane::ErrorCode::badLength : corvane::ErrorCode::badData)
                    << bits << " bits, item " << i;
                EXPECT_TRUE(results[i].bytes.empty());
            }
        }

        R_RSA_PRIVATE_KEY faulty = key.privateKey;
        faulty.coefficient[MAX_RSA_PRIME_LEN - 20] ^= 0x08;
        corvane::engine::PreparedPrivateKey prepared;
        corvane::rsa_blocks::prepare(prepared, faulty);
        std::vector<corvane::rsa_blocks::BatchItem> items(messages.size());
        for (std::size_t i = 0; i < items.size(); i++) {
            items[i].input = messages[i].data();
            items[i].inputLen = static_cast<std::uint32_t>(messages[i].size());
        }
        corvane::rsa_blocks::privateEncryptBatch(items.data(), items.size(), faulty, prepared);
        for (std::size_t i = 0; i < items.size(); i++) {
            const bool tooLong = messages[i].size() > key.modulusLen() - 11;
            EXPECT_EQ(items[i].status, tooLong ? QV_STATUS_BAD_LENGTH : QV_STATUS_BAD_DATA) << bits << ", item " << i;
        }
        corvane::secure_zero_object(prepared);
    }
}

// One faulted result among good ones: the check before release, run for
// the whole batch at once, refuses that item alone (badData, no bytes) and
// releases every other item as the single operation gives it. The fault
// (a flipped bit of one half's exponentiation) keeps the result consistent
// with the key, so only raising it to e can tell. Items 0..8 span a full
// engine batch of eight and a single one after it.
TEST(RsaBatch, OneFaultedResultIsRefusedAndTheOthersPass) {
    struct Case {
        unsigned bits;
        std::size_t count;
        int faulted;
    };
    const Case cases[] = {{1024, 8, 0}, {1024, 9, 5}, {1024, 9, 8}, {512, 8, 7}, {768, 3, 1}};
    for (const Case& c : cases) {
        const RsaKey& key = cachedRsaKey(c.bits);
        const cv::RsaPrivateKey priv = cv::RsaPrivateKey::fromRecord(key.privateKey);
        Rng rng(c.bits + c.count);
        std::vector<Bytes> messages, blocks;
        for (std::size_t i = 0; i < c.count; i++) {
            messages.push_back(rng.bytes(1 + i));
            blocks.push_back(*opensslPublicEncrypt(key, messages.back(), RSA_PKCS1_PADDING));
        }
        const std::string where = std::to_string(c.bits) + " bits, " + std::to_string(c.count) +
                                  " items, item " + std::to_string(c.faulted) + " faulted";
        for (const bool sign : {false, true}) {
            const std::vector<cv::ByteView> views = viewsOf(sign ? messages : blocks);
            seams::set_rsa_crt_glitch(seams::CrtGlitch::exponentiation, c.faulted);
            const std::vector<cv::RsaBatchResult> results = sign ? priv.signBatch(views) : priv.decryptBatch(views);
            seams::set_rsa_crt_glitch(seams::CrtGlitch::none);
            ASSERT_EQ(results.size(), c.count) << where;
            for (std::size_t i = 0; i < c.count; i++) {
                const bool faulted = static_cast<int>(i) == c.faulted;
                EXPECT_EQ(results[i].error, faulted ? std::error_code(corvane::ErrorCode::badData) : std::error_code())
                    << where << (sign ? ", sign" : ", decrypt") << ", item " << i;
                const Bytes want = faulted ? Bytes() : sign ? callPrivateEncrypt(key.privateKey, messages[i]).out
                                                            : messages[i];
                EXPECT_EQ(results[i].bytes, want) << where << (sign ? ", sign" : ", decrypt") << ", item " << i;
            }
        }
    }
}

// Whether the object's bytes hold the low word of p as the arithmetic keeps
// it (the set-up's decoded prime), in this host's representation.
bool holdsPrimeWord(const void* object, std::size_t size, const R_RSA_PRIVATE_KEY& record) {
    corvane::engine::Word low = 0;
    for (std::size_t i = 0; i < sizeof low; i++)
        low |= static_cast<corvane::engine::Word>(record.prime[0][MAX_RSA_PRIME_LEN - 1 - i]) << (8 * i);
    return memmem(object, size, &low, sizeof low) != nullptr;
}

TEST(RsaBatch, CopiesAndMovesCarryTheSetUpAndLeaveNoneBehind) {
    const RsaKey& key = cachedRsaKey(768);
    Rng rng(0x70);
    const Bytes block = *opensslPublicEncrypt(key, bytesOf("moved"), RSA_PKCS1_PADDING);
    cv::RsaPrivateKey priv = cv::RsaPrivateKey::fromRecord(key.privateKey);
    ASSERT_TRUE(holdsPrimeWord(&priv, sizeof priv, key.privateKey));

    cv::RsaPrivateKey copy = priv;
    cv::RsaPrivateKey moved = std::move(copy);
    EXPECT_FALSE(holdsPrimeWord(&copy, sizeof copy, key.privateKey));  // NOLINT(bugprone-use-after-move)
    std::error_code error;
    EXPECT_TRUE(copy.decrypt(block, error).empty());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(error, corvane::ErrorCode::badLength);  // a key of 0 bits
    EXPECT_EQ(moved.decrypt(block), bytesOf("moved"));

    copy = moved;
    EXPECT_EQ(copy.decryptBatch(std::vector<cv::ByteView>{block, block})[1].bytes, bytesOf("moved"));
    cv::RsaPrivateKey assigned = cv::RsaPrivateKey::fromRecord(cachedRsaKey(512).privateKey);
    assigned = std::move(moved);
    EXPECT_FALSE(holdsPrimeWord(&moved, sizeof moved, key.privateKey));  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(assigned.decrypt(block), bytesOf("moved"));
    EXPECT_EQ(assigned.sign("s"), callPrivateEncrypt(key.privateKey, bytesOf("s")).out);

    cv::RsaPublicKey pub = assigned.publicKey();
    cv::RsaPublicKey pubMoved = std::move(pub);
    EXPECT_EQ(pubMoved.recover(assigned.sign("r")), bytesOf("r"));
    EXPECT_THROW(pub.recover(assigned.sign("r")), cv::Error);  // NOLINT(bugprone-use-after-move)
}

}  // namespace
