#include <Corvane/QVSimpleRSA.h>
#include <gtest/gtest.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/allocation.h"
#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

using namespace corvane;
using namespace corvane::test;

namespace {

// What a call wrote: its NSLog lines and its standard output.
struct Output {
    std::vector<std::string> log;
    std::string printed;
    bool operator==(const Output&) const = default;
};

Output capture(const std::function<void()>& call) {
    Output out;
    std::mutex mutex;
    NSLogSink previous = NSLogSetSink([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        out.log.push_back(line);
    });
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    call();
    std::fflush(stdout);
    out.printed = testing::internal::GetCapturedStdout();
    NSLogSetSink(previous);
    return out;
}

const Output kSilent{};
Output logged(const std::string& line) { return Output{{line}, ""}; }
Output printed(const std::string& text) { return Output{{}, text}; }

Bytes field(const unsigned char (&f)[MAX_RSA_MODULUS_LEN]) { return Bytes(f, f + sizeof f); }

// A 128-byte field holding tail right-aligned.
Bytes rightAligned(const Bytes& tail) {
    Bytes f(MAX_RSA_MODULUS_LEN - tail.size(), 0);
    f.insert(f.end(), tail.begin(), tail.end());
    return f;
}

Bytes bytesOfData(const NSData* data) {
    auto s = data->span();
    return Bytes(s.begin(), s.end());
}

std::string hexModulus(const RsaKey& key) { return toHex(key.parts.n); }
std::string hexExponent(const RsaKey& key) { return toHex(key.parts.e); }

Ref<QVSimpleRSA> withKey(const RsaKey& key) {
    auto rsa = make_ref<QVSimpleRSA>();
    EXPECT_EQ(rsa->setPublicKey(hexModulus(key).c_str(), hexExponent(key).c_str()), 0);
    return rsa;
}

// The block decrypts to message under the key, with both our private-key
// operation and OpenSSL's.
void expectDecryptsTo(const RsaKey& key, const NSData* block, const Bytes& message) {
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(block->length(), key.modulusLen());
    unsigned char out[MAX_RSA_MODULUS_LEN];
    std::uint32_t outLen = 0;
    ASSERT_EQ(QV_RSAPrivateDecrypt(out, &outLen, static_cast<const unsigned char*>(block->bytes()),
                                   static_cast<std::uint32_t>(block->length()), &key.privateKey),
              0);
    EXPECT_EQ(Bytes(out, out + outLen), message);
    EXPECT_EQ(opensslPrivateDecrypt(key, bytesOfData(block), RSA_PKCS1_PADDING), message);
}

// ---------------------------------------------------------------------------
TEST(QVSimpleRSATest, NewObjectHasNoKeyAndRefusesToEncrypt) {
    auto rsa = make_ref<QVSimpleRSA>();
    ASSERT_TRUE(rsa);
    EXPECT_EQ(rsa->_publicKey, nullptr);
    std::int32_t err = 1;
    Ref<NSData> result;
    Output out = capture([&] { result = rsa->createEncryptData("abc", &err); });
    EXPECT_FALSE(result);
    EXPECT_EQ(err, -2);
    EXPECT_EQ(out, logged("no public key set"));
}

TEST(QVSimpleRSATest, KeyTextsFillFieldsRightAlignedPairByPair) {
    struct Case {
        const char* text;
        Bytes tail;
    };
    const Case cases[] = {
        {"0A0B", {0x0A, 0x0B}},
        {"0a0b", {0x0A, 0x0B}},
        {"zz", {0x00}},        // no number in the pair
        {"fz", {0x0F}},        // reading stops at the z
        {"z5", {0x00}},
        {"FF00ff", {0xFF, 0x00, 0xFF}},
        {"-1", {0xFF}},        // strtol reads a sign: low 8 bits of -1
        {"", {}},
    };
    for (const Case& c : cases) {
        auto rsa = make_ref<QVSimpleRSA>();
        Output out = capture([&] { EXPECT_EQ(rsa->setPublicKey(c.text, c.text), 0) << c.text; });
        EXPECT_EQ(out, kSilent);
        ASSERT_NE(rsa->_publicKey, nullptr);
        EXPECT_EQ(rsa->_publicKey->bits, 512);
        EXPECT_EQ(field(rsa->_publicKey->modulus), rightAligned(c.tail)) << c.text;
        EXPECT_EQ(field(rsa->_publicKey->exponent), rightAligned(c.tail)) << c.text;
    }
}

TEST(QVSimpleRSATest, RefusedKeysLogOnceAndKeepTheEarlierKey) {
    const RsaKey& key = cachedRsaKey(512);
    const std::string tooLong(258, 'a');
    const std::string longest(256, 'a');
    struct Case {
        const char* modulus;
        const char* exponent;
        Output expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, kSilent},
        {nullptr, "03", kSilent},
        {"0a", nullptr, kSilent},
        {"abc", "03", logged("hexModulus len is not double")},
        {"ab", "abc", logged("hexExponent len is not double")},
        {"abc", "abc", logged("hexModulus len is not double")},
        {tooLong.c_str(), "03", logged("hexModulus is longer than 256 digits")},
        {"ab", tooLong.c_str(), logged("hexExponent is longer than 256 digits")},
    };
    auto rsa = withKey(key);
    R_RSA_PUBLIC_KEY* record = rsa->_publicKey;
    R_RSA_PUBLIC_KEY before = *record;
    for (const Case& c : cases) {
        std::int32_t status = 0;
        Output out = capture([&] { status = rsa->setPublicKey(c.modulus, c.exponent); });
        EXPECT_EQ(status, -2);
        EXPECT_EQ(out, c.expected);
        ASSERT_EQ(rsa->_publicKey, record);
        EXPECT_EQ(std::memcmp(record, &before, sizeof before), 0);
    }
    std::int32_t err = 1;
    expectDecryptsTo(key, rsa->createEncryptData("still works", &err).get(), bytesOf("still works"));
    EXPECT_EQ(err, 0);
    // 256 digits is the most a field holds, and is accepted.
    EXPECT_EQ(rsa->setPublicKey(longest.c_str(), longest.c_str()), 0);
    EXPECT_EQ(field(rsa->_publicKey->exponent), Bytes(128, 0xAA));
}

TEST(QVSimpleRSATest, FailedRecordAllocationLeavesNoKey) {
    auto rsa = withKey(cachedRsaKey(512));
    std::int32_t status = 0;
    Output out = capture([&] {
        test_seams::failNthAllocation(1);  // the key record is the call's only allocation
        status = rsa->setPublicKey("0a", "03");
        test_seams::failNthAllocation(0);
    });
    EXPECT_EQ(status, -3);
    EXPECT_EQ(out, logged("create public key failed!"));
    EXPECT_EQ(rsa->_publicKey, nullptr);
    std::int32_t err = 0;
    out = capture([&] { EXPECT_FALSE(rsa->createEncryptData("x", &err)); });
    EXPECT_EQ(err, -2);
    EXPECT_EQ(out, logged("no public key set"));
}

TEST(QVSimpleRSATest, EmptyKeyTextsAreAcceptedThenEveryEncryptionFails) {
    auto rsa = make_ref<QVSimpleRSA>();
    ASSERT_EQ(rsa->setPublicKey("", ""), 0);
    EXPECT_EQ(field(rsa->_publicKey->modulus), Bytes(128, 0));
    for (int i = 0; i < 2; i++) {
        std::int32_t err = 0;
        Ref<NSData> result;
        Output out = capture([&] { result = rsa->createEncryptData("m", &err); });
        EXPECT_FALSE(result);
        EXPECT_EQ(err, -6);
        EXPECT_EQ(out, printed("QV_RSAPublicEncrypt failed with 401\n"));
    }
}

TEST(QVSimpleRSATest, MessageLengthLimitOf512BitKeys) {
    const RsaKey& key = cachedRsaKey(512);
    auto rsa = withKey(key);
    EXPECT_EQ(rsa->_publicKey->bits, 512);
    EXPECT_EQ(field(rsa->_publicKey->modulus), rightAligned(key.parts.n));
    EXPECT_EQ(field(rsa->_publicKey->exponent), rightAligned({0x01, 0x00, 0x01}));

    Bytes longest(53, 'q');
    Bytes tooLong(54, 'q');
    // The error cell is optional: with a null pointer the outcome is the same.
    for (bool withCell : {true, false}) {
        std::int32_t err = 1;
        std::int32_t* cell = withCell ? &err : nullptr;
        Ref<NSData> ok;
        Output out = capture([&] { ok = rsa->createEncryptData(longest.data(), 53, cell); });
        EXPECT_EQ(out, kSilent);
        expectDecryptsTo(key, ok.get(), longest);
        EXPECT_EQ(ok->retainCount(), 1u);  // owned by the caller alone
        if (withCell) {
            EXPECT_EQ(err, 0);
        }

        Ref<NSData> refused;
        out = capture([&] { refused = rsa->createEncryptData(tooLong.data(), 54, cell); });
        EXPECT_FALSE(refused);
        EXPECT_EQ(out, printed("QV_RSAPublicEncrypt failed with 406\n"));
        if (withCell) {
            EXPECT_EQ(err, -6);
        }
    }
}

TEST(QVSimpleRSATest, EveryFormOfTheEmptyMessageEncrypts) {
    const RsaKey& key = cachedRsaKey(512);
    auto rsa = withKey(key);
    Ref<NSData> empty = make_ref<NSData>(nullptr, 0u);
    std::vector<std::function<Ref<NSData>(std::int32_t*)>> forms = {
        [&](std::int32_t* e) { return rsa->createEncryptData(static_cast<const void*>(nullptr), 0, e); },
        [&](std::int32_t* e) { return rsa->createEncryptData("", e); },
        [&](std::int32_t* e) { return rsa->createEncryptDataForData(nullptr, e); },
        [&](std::int32_t* e) { return rsa->createEncryptDataForData(empty.get(), e); },
    };
    for (auto& form : forms) {
        std::int32_t err = 1;
        Ref<NSData> block = form(&err);
        EXPECT_EQ(err, 0);
        expectDecryptsTo(key, block.get(), {});
    }
}

TEST(QVSimpleRSATest, ConvenienceFormsEncryptExactlyTheirBytes) {
    const RsaKey& key = cachedRsaKey(512);
    auto rsa = withKey(key);
    std::int32_t err = 1;
    expectDecryptsTo(key, rsa->createEncryptData("abc", &err).get(), bytesOf("abc"));
    EXPECT_EQ(err, 0);
    Bytes withZeros = {0, 1, 0, 2, 0};
    Ref<NSData> data = make_ref<NSData>(withZeros.data(), withZeros.size());
    expectDecryptsTo(key, rsa->createEncryptDataForData(data.get(), &err).get(), withZeros);
}

TEST(QVSimpleRSATest, TwoEncryptionsOfOneMessageDiffer) {
    const RsaKey& key = cachedRsaKey(512);
    auto rsa = withKey(key);
    Ref<NSData> a = rsa->createEncryptData("same", nullptr);
    Ref<NSData> b = rsa->createEncryptData("same", nullptr);
    ASSERT_TRUE(a && b);
    EXPECT_NE(bytesOfData(a.get()), bytesOfData(b.get()));
    expectDecryptsTo(key, a.get(), bytesOf("same"));
    expectDecryptsTo(key, b.get(), bytesOf("same"));
}

TEST(QVSimpleRSATest, SecondKeyReplacesTheFirst) {
    const RsaKey& first = cachedRsaKey(512);
    RsaKey second = generateRsaKey(512);
    auto rsa = withKey(first);
    ASSERT_EQ(rsa->setPublicKey(hexModulus(second).c_str(), hexExponent(second).c_str()), 0);
    EXPECT_EQ(field(rsa->_publicKey->modulus), rightAligned(second.parts.n));
    expectDecryptsTo(second, rsa->createEncryptData("to the second", nullptr).get(),
                     bytesOf("to the second"));
}

// 768- and 1024-bit moduli are recorded with their true size, so every
// block is as long as the modulus and decrypts; the longest message grows
// with the key.
TEST(QVSimpleRSATest, KeysOf512768And1024Bits) {
    Rng rng(5);
    for (unsigned bits : {512u, 768u, 1024u}) {
        SCOPED_TRACE(bits);
        const RsaKey& key = cachedRsaKey(bits);
        auto rsa = withKey(key);
        EXPECT_EQ(rsa->_publicKey->bits, bits);
        std::size_t limit = key.modulusLen() - 11;
        for (std::size_t length : {std::size_t{0}, std::size_t{1}, limit}) {
            Bytes message = rng.bytes(length);
            std::int32_t err = 1;
            Ref<NSData> block = rsa->createEncryptData(message.data(), std::int64_t(length), &err);
            EXPECT_EQ(err, 0);
            expectDecryptsTo(key, block.get(), message);
        }
        Bytes tooLong = rng.bytes(limit + 1);
        std::int32_t err = 0;
        Output out = capture([&] {
            EXPECT_FALSE(rsa->createEncryptData(tooLong.data(), std::int64_t(limit + 1), &err));
        });
        EXPECT_EQ(err, -6);
        EXPECT_EQ(out, printed("QV_RSAPublicEncrypt failed with 406\n"));
    }
}

// A 512-bit modulus written with leading zero digits past 128 digits is
// still a 512-bit key.
TEST(QVSimpleRSATest, LeadingZerosBeyond128DigitsKeepTheTrueSize) {
    const RsaKey& key = cachedRsaKey(512);
    auto rsa = make_ref<QVSimpleRSA>();
    std::string padded = "0000" + hexModulus(key);
    ASSERT_EQ(rsa->setPublicKey(padded.c_str(), hexExponent(key).c_str()), 0);
    EXPECT_EQ(rsa->_publicKey->bits, 512);
    expectDecryptsTo(key, rsa->createEncryptData("padded", nullptr).get(), bytesOf("padded"));
}

TEST(QVSimpleRSATest, OutOfRangeInputsAreRefusedBeforeEncrypting) {
    auto rsa = withKey(cachedRsaKey(512));
    const char text[] = "abc";
    struct Case {
        const char* name;
        std::function<Ref<NSData>(std::int32_t*)> call;
        Output expected;
    };
    const Case cases[] = {
        {"negative length", [&](std::int32_t* e) { return rsa->createEncryptData(text, -1, e); },
         logged("message length out of range")},
        {"length 2^32", [&](std::int32_t* e) { return rsa->createEncryptData(text, std::int64_t{1} << 32, e); },
         logged("message length out of range")},
        {"null bytes with a length",
         [&](std::int32_t* e) { return rsa->createEncryptData(static_cast<const void*>(nullptr), 3, e); },
         logged("message is null")},
        {"null text", [&](std::int32_t* e) { return rsa->createEncryptData(static_cast<const char*>(nullptr), e); },
         logged("message is null")},
    };
    for (const Case& c : cases) {
        std::int32_t err = 0;
        Ref<NSData> result;
        Output out = capture([&] { result = c.call(&err); });
        EXPECT_FALSE(result) << c.name;
        EXPECT_EQ(err, -2) << c.name;
        EXPECT_EQ(out, c.expected) << c.name;
    }
}

// valueChange reads exactly count characters from an exactly sized heap
// copy of the text (so a read outside it is caught under AddressSanitizer)
// and never writes outside the area (guard bytes on both sides).
TEST(QVSimpleRSATest, ValueChangeStaysInsideTextAndArea) {
    struct Case {
        const char* text;
        std::int32_t count;
        std::int32_t areaLength;
        Bytes expected;
    };
    const Case cases[] = {
        {"0A0B", 4, 4, {0x00, 0x00, 0x0A, 0x0B}},
        {"abc", 3, 3, {0x00, 0x0A, 0xBC}},       // odd: as if "0abc"
        {"f", 1, 2, {0x00, 0x0F}},
        {"112233", 6, 2, {0x22, 0x33}},         // too long: the last digits
        {"1122334", 7, 2, {0x23, 0x34}},
        {"abcd", 0, 2, {0x00, 0x00}},
        {"abcd", -4, 2, {0x00, 0x00}},
        {nullptr, 4, 2, {0x00, 0x00}},
        {"abcd", 4, 0, {}},
        {"abcd", 4, -1, {}},
    };
    auto rsa = make_ref<QVSimpleRSA>();
    for (const Case& c : cases) {
        std::vector<char> text;
        if (c.text) text.assign(c.text, c.text + std::max(c.count, 0));
        const char* textPointer = c.text ? text.data() : nullptr;
        std::size_t area = static_cast<std::size_t>(std::max(c.areaLength, 0));
        Bytes buffer(area + 2, 0xEE);
        rsa->valueChange(buffer.data() + 1, c.areaLength, textPointer, c.count);
        EXPECT_EQ(buffer.front(), 0xEE);
        EXPECT_EQ(buffer.back(), 0xEE);
        EXPECT_EQ(Bytes(buffer.begin() + 1, buffer.end() - 1), c.expected)
            << (c.text ? c.text : "(null)") << " count " << c.count;
    }
    rsa->valueChange(nullptr, 4, "abcd", 4);  // no area: nothing happens
}

}  // namespace
