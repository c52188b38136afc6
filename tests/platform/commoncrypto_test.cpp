// The cipher adapter's call contract: every status it promises, with the
// output buffer untouched when a call is refused up front, and its cipher
// checked against OpenSSL's own DES-EDE3 in every mode it offers.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/CommonCrypto.h"
#include "tests/support/des3_support.h"
#include "tests/support/test_support.h"

using namespace corvane::test;

namespace {

constexpr std::size_t kUntouched = 12345;

struct StatusCase {
    const char* name;
    CCOperation op;
    CCAlgorithm alg;
    CCOptions options;
    bool nullKey;
    std::size_t keyLength;
    bool nullIn;
    std::size_t inLength;
    bool nullOut;
    std::size_t outAvailable;
    CCCryptorStatus status;
    std::size_t moved;
};

const CCOptions kPad = kCCOptionPKCS7Padding;
const StatusCase kStatusCases[] = {
    {"unknown operation", 2, kCCAlgorithm3DES, kPad, false, 24, false, 8, false, 64, kCCParamError, 0},
    {"AES is not offered", kCCEncrypt, kCCAlgorithmAES, kPad, false, 24, false, 8, false, 64, kCCUnimplemented, 0},
    {"DES is not offered", kCCEncrypt, kCCAlgorithmDES, kPad, false, 24, false, 8, false, 64, kCCUnimplemented, 0},
    {"unknown algorithm", kCCEncrypt, 77, kPad, false, 24, false, 8, false, 64, kCCParamError, 0},
    {"unknown option bit", kCCEncrypt, kCCAlgorithm3DES, kPad | 4, false, 24, false, 8, false, 64, kCCParamError, 0},
    {"two-key length", kCCEncrypt, kCCAlgorithm3DES, kPad, false, 16, false, 8, false, 64, kCCParamError, 0},
    {"key too long", kCCEncrypt, kCCAlgorithm3DES, kPad, false, 32, false, 8, false, 64, kCCParamError, 0},
    {"no key", kCCDecrypt, kCCAlgorithm3DES, kPad, true, 24, false, 8, false, 64, kCCParamError, 0},
    {"null input with a length", kCCEncrypt, kCCAlgorithm3DES, kPad, false, 24, true, 8, false, 64, kCCParamError, 0},
    {"null output with room", kCCEncrypt, kCCAlgorithm3DES, kPad, false, 24, false, 8, true, 64, kCCParamError, 0},
    {"decrypt 13 bytes", kCCDecrypt, kCCAlgorithm3DES, kPad, false, 24, false, 13, false, 64, kCCAlignmentError, 0},
    {"decrypt 13 bytes unpadded", kCCDecrypt, kCCAlgorithm3DES, 0, false, 24, false, 13, false, 64, kCCAlignmentError, 0},
    {"encrypt 13 bytes unpadded", kCCEncrypt, kCCAlgorithm3DES, 0, false, 24, false, 13, false, 64, kCCAlignmentError, 0},
    {"encrypt 16 padded into 23", kCCEncrypt, kCCAlgorithm3DES, kPad, false, 24, false, 16, false, 23, kCCBufferTooSmall, 24},
    {"encrypt 13 padded into 15", kCCEncrypt, kCCAlgorithm3DES, kPad, false, 24, false, 13, false, 15, kCCBufferTooSmall, 16},
    {"encrypt 0 padded into nothing", kCCEncrypt, kCCAlgorithm3DES, kPad, false, 24, true, 0, true, 0, kCCBufferTooSmall, 8},
    {"decrypt 16 into 15", kCCDecrypt, kCCAlgorithm3DES, kPad, false, 24, false, 16, false, 15, kCCBufferTooSmall, 16},
    {"ECB encrypt 16 unpadded into 8", kCCEncrypt, kCCAlgorithm3DES, kCCOptionECBMode, false, 24, false, 16, false, 8, kCCBufferTooSmall, 16},
    {"decrypt nothing padded", kCCDecrypt, kCCAlgorithm3DES, kPad, false, 24, true, 0, false, 8, kCCDecodeError, 0},
    {"decrypt nothing unpadded", kCCDecrypt, kCCAlgorithm3DES, 0, false, 24, true, 0, true, 0, kCCSuccess, 0},
    {"encrypt nothing unpadded", kCCEncrypt, kCCAlgorithm3DES, kCCOptionECBMode, false, 24, true, 0, true, 0, kCCSuccess, 0},
};

}  // namespace

TEST(CommonCrypto, EveryStatusAndItsMovedCount) {
    Rng rng(4300);
    const Bytes key = rng.bytes(24);
    const Bytes in = rng.bytes(64);
    for (const auto& c : kStatusCases) {
        SCOPED_TRACE(c.name);
        Bytes out(64, 0xA5);
        std::size_t moved = kUntouched;
        CCCryptorStatus status =
            CCCrypt(c.op, c.alg, c.options, c.nullKey ? nullptr : key.data(), c.keyLength, nullptr,
                    c.nullIn ? nullptr : in.data(), c.inLength, c.nullOut ? nullptr : out.data(),
                    c.outAvailable, &moved);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(moved, c.moved);
        if (status != kCCSuccess) {
            EXPECT_EQ(out, Bytes(64, 0xA5)) << "output written before refusal";
        }
    }
}

// Every length to 300 bytes (each tail a padded block is made of, both
// engines' seams) and some long ones, in place and not.
TEST(CommonCrypto, AgreesWithOpenSslInEveryModeBothWays) {
    Rng rng(3);
    std::vector<std::size_t> lengths = {1000u, 1801u, 4096u, 20000u};
    for (std::size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    for (bool ecb : {false, true}) {
        for (bool padding : {false, true}) {
            for (std::size_t length : lengths) {
                if (!padding && length % 8 != 0) continue;
                SCOPED_TRACE(testing::Message() << "ecb " << ecb << " padding " << padding << " length " << length);
                const Bytes key = rng.bytes(24), iv = rng.bytes(8), plain = rng.bytes(length);
                const Bytes oracleIv = ecb ? Bytes{} : iv;
                const CCOptions options = (ecb ? kCCOptionECBMode : 0) | (padding ? kCCOptionPKCS7Padding : 0);

                auto expected = opensslDes3(true, key, oracleIv, plain, padding);
                ASSERT_TRUE(expected);
                Bytes cipher(expected->size() + 3);
                std::size_t moved = kUntouched;
                ASSERT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithm3DES, options, key.data(), 24, iv.data(), plain.data(),
                                  plain.size(), cipher.data(), cipher.size(), &moved),
                          kCCSuccess);
                cipher.resize(moved);
                EXPECT_EQ(cipher, *expected);
                Bytes inPlace = plain;
                inPlace.resize(expected->size());
                ASSERT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithm3DES, options, key.data(), 24, iv.data(), inPlace.data(),
                                  plain.size(), inPlace.data(), inPlace.size(), nullptr),
                          kCCSuccess);
                EXPECT_EQ(inPlace, *expected) << "in place";

                if (padding && length == 0) continue;  // nothing to decrypt without a padding block
                Bytes back(cipher.size());
                moved = kUntouched;
                ASSERT_EQ(CCCrypt(kCCDecrypt, kCCAlgorithm3DES, options, key.data(), 24, iv.data(), cipher.data(),
                                  cipher.size(), back.data(), back.size(), &moved),
                          kCCSuccess);
                back.resize(moved);
                EXPECT_EQ(back, plain);
            }
        }
    }
}

TEST(CommonCrypto, ExactBufferInPlaceNullIvAndNoMovedPointer) {
    Rng rng(7);
    const Bytes key = rng.bytes(24), plain = rng.bytes(40);
    auto zeroIvCipher = opensslDes3(true, key, Bytes(8, 0), plain, true);
    ASSERT_TRUE(zeroIvCipher);
    ASSERT_EQ(zeroIvCipher->size(), 48u);

    // A null IV is all zero; a buffer of exactly the size needed is enough;
    // the moved count may go unreported.
    Bytes buffer(48);
    std::memcpy(buffer.data(), plain.data(), plain.size());
    ASSERT_EQ(CCCrypt(kCCEncrypt, kCCAlgorithm3DES, kCCOptionPKCS7Padding, key.data(), 24, nullptr, buffer.data(),
                      plain.size(), buffer.data(), buffer.size(), nullptr),
              kCCSuccess);
    EXPECT_EQ(buffer, *zeroIvCipher) << "in place";

    std::size_t moved = 0;
    ASSERT_EQ(CCCrypt(kCCDecrypt, kCCAlgorithm3DES, kCCOptionPKCS7Padding, key.data(), 24, nullptr, buffer.data(),
                      buffer.size(), buffer.data(), buffer.size(), &moved),
              kCCSuccess);
    ASSERT_EQ(moved, plain.size());
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), buffer.begin()));
}

TEST(CommonCrypto, BadPaddingIsADecodeErrorAndLeavesNoPlaintext) {
    Rng rng(11);
    const Bytes key = rng.bytes(24), iv = rng.bytes(8);
    // Last plaintext bytes that are not PKCS #7 padding: a zero byte, a count
    // above the block size, and a count whose bytes do not all agree.
    const Bytes badTails[] = {fromHex("0102030405060700"), fromHex("0909090909090909"),
                              fromHex("0102030405060302")};
    for (const Bytes& tail : badTails) {
        Bytes plain = rng.bytes(16);
        plain.insert(plain.end(), tail.begin(), tail.end());
        auto cipher = opensslDes3(true, key, iv, plain, false);
        ASSERT_TRUE(cipher);
        Bytes out(cipher->size(), 0xA5);
        std::size_t moved = kUntouched;
        EXPECT_EQ(CCCrypt(kCCDecrypt, kCCAlgorithm3DES, kCCOptionPKCS7Padding, key.data(), 24, iv.data(),
                          cipher->data(), cipher->size(), out.data(), out.size(), &moved),
                  kCCDecodeError)
            << toHex(tail);
        EXPECT_EQ(moved, 0u);
        EXPECT_EQ(out, Bytes(out.size(), 0)) << "decrypted blocks left in the output";
    }
}
