// des3EncryptBatch and des3DecryptBatch: every item's result against
// OpenSSL (and against des3Encrypt / des3Decrypt on the item alone), items
// of every length mixed so that lanes refill at different times, more items
// than one slice holds, keys of every length the one-shot calls take, the
// legacy no-IV rule, and each kind of refusal standing alone among valid
// items. Run again on each lower tier (tests/CMakeLists.txt).
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>
#include <vector>

#include "tests/support/des3_support.h"
#include "tests/support/test_support.h"

namespace cv = corvane::v1;
using corvane::ErrorCode;
using namespace corvane::test;

namespace {

struct Message {
    Bytes data, key, iv;
    bool ivFromKey = false;
};

std::vector<cv::Des3BatchItem> itemsOf(const std::vector<Message>& messages) {
    std::vector<cv::Des3BatchItem> items;
    for (const Message& m : messages) items.push_back({m.data, m.key, m.iv, m.ivFromKey});
    return items;
}

// The 24-byte key and 8-byte IV the one-shot calls make of an item.
Bytes keyArea(const Message& m) {
    Bytes area(24, 0);
    std::copy(m.key.begin(), m.key.end(), area.begin());
    return area;
}
Bytes ivOf(const Message& m) {
    const Bytes area = keyArea(m);
    return m.ivFromKey ? Bytes(area.begin(), area.begin() + 8) : m.iv;
}

TEST(Des3Batch, EveryItemAsOpenSslAndTheOneShotCalls) {
    Rng rng(0xba7c);
    std::vector<Message> messages;
    for (std::size_t i = 0; i < 300; ++i) {
        const std::size_t length = i % 9 == 0 ? rng.range(0, 2000) : rng.range(0, 64);
        Message m{rng.bytes(length), rng.bytes(i % 11 == 0 ? rng.range(1, 24) : 24), rng.bytes(8), i % 13 == 0};
        messages.push_back(m);
    }
    const std::vector<cv::BatchResult> sealed = cv::des3EncryptBatch(itemsOf(messages));
    ASSERT_EQ(sealed.size(), messages.size());
    std::vector<Message> ciphertexts = messages;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const Message& m = messages[i];
        ASSERT_FALSE(sealed[i].error) << i;
        const auto expected = opensslDes3(true, keyArea(m), ivOf(m), m.data, true);
        ASSERT_TRUE(expected);
        ASSERT_EQ(sealed[i].bytes, *expected) << "item " << i;
        ASSERT_EQ(sealed[i].bytes, m.ivFromKey ? cv::des3Encrypt(m.data, m.key) : cv::des3Encrypt(m.data, m.key, m.iv));
        ciphertexts[i].data = sealed[i].bytes;
    }
    const std::vector<cv::BatchResult> opened = cv::des3DecryptBatch(itemsOf(ciphertexts));
    ASSERT_EQ(opened.size(), messages.size());
    for (std::size_t i = 0; i < messages.size(); ++i) {
        ASSERT_FALSE(opened[i].error) << i;
        ASSERT_EQ(opened[i].bytes, messages[i].data) << "item " << i;
    }
    EXPECT_TRUE(cv::des3EncryptBatch({}).empty());
}

// Each refusal among valid items: the item alone gets its error and no
// bytes, its neighbours their results.
TEST(Des3Batch, RefusedItemsStandAlone) {
    Rng rng(0xbad2);
    const Bytes key = rng.bytes(24), iv = rng.bytes(8);
    const Bytes sealed = cv::des3Encrypt(rng.bytes(40), key, iv);
    Bytes badPadding = sealed;
    badPadding.back() ^= 0x5A;  // the last plaintext block garbled
    while (opensslDes3(false, key, iv, badPadding, true)) badPadding.back() ^= 0x01;
    struct Case {
        Message message;
        ErrorCode encryptError, decryptError;
    } cases[] = {
        {{sealed, {}, iv}, ErrorCode::invalidInput, ErrorCode::invalidInput},
        {{sealed, Bytes(25, 1), iv}, ErrorCode::invalidInput, ErrorCode::invalidInput},
        {{sealed, key, Bytes(7, 1)}, ErrorCode::invalidInput, ErrorCode::invalidInput},
        {{sealed, key, Bytes(9, 1)}, ErrorCode::invalidInput, ErrorCode::invalidInput},
        {{{}, key, iv}, ErrorCode::ok, ErrorCode::decryptionRefused},
        {{Bytes(sealed.begin(), sealed.end() - 1), key, iv}, ErrorCode::ok, ErrorCode::decryptionRefused},
        {{badPadding, key, iv}, ErrorCode::ok, ErrorCode::decryptionRefused},
    };
    for (const Case& c : cases) {
        const std::vector<Message> messages = {{sealed, key, iv}, c.message, {sealed, key, iv}};
        for (bool decrypt : {false, true}) {
            const auto results = decrypt ? cv::des3DecryptBatch(itemsOf(messages)) : cv::des3EncryptBatch(itemsOf(messages));
            const ErrorCode expected = decrypt ? c.decryptError : c.encryptError;
            if (expected == ErrorCode::ok) {
                EXPECT_FALSE(results[1].error) << toHex(c.message.data);
            } else {
                EXPECT_EQ(results[1].error, make_error_code(expected)) << toHex(c.message.data) << " decrypt " << decrypt;
                EXPECT_TRUE(results[1].bytes.empty());
            }
            for (std::size_t neighbour : {0u, 2u}) {
                EXPECT_FALSE(results[neighbour].error);
                EXPECT_EQ(results[neighbour].bytes, decrypt ? cv::des3Decrypt(sealed, key, iv) : cv::des3Encrypt(sealed, key, iv));
            }
        }
    }
}

}  // namespace
