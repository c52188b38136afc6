// QVGTMBase64's public class methods: the families' padding choices, the
// data, byte and string forms agreeing with each other, nil for every
// failure (never an empty object), ASCII-only strings, and results owned by
// the autorelease pool.
#include <Corvane/Foundation.h>
#include <Corvane/QVGTMBase64.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/support/test_support.h"

using namespace corvane;
using namespace corvane::test;

namespace {

std::optional<std::string> text(const NSData* d) {
    if (d == nullptr) return std::nullopt;
    return std::string(static_cast<const char*>(d->bytes()), d->length());
}
std::optional<std::string> text(const NSString* s) {
    if (s == nullptr) return std::nullopt;
    return std::string(s->UTF8String());
}

Ref<NSData> dataOf(const std::string& s) { return make_ref<NSData>(s.data(), s.size()); }
NSString* stringOf(const char* s) { return NSString::stringWithUTF8String(s); }

class Base64Class : public ::testing::Test {
protected:
    NSAutoreleasePool pool;
};

}  // namespace

TEST_F(Base64Class, NilAndEmptyInputGiveNil) {
    Ref<NSData> empty = dataOf("");
    const char bytes[] = "QQ==";
    for (const NSData* d : {static_cast<const NSData*>(nullptr), static_cast<const NSData*>(empty.get())}) {
        EXPECT_EQ(QVGTMBase64::encodeData(d), nullptr);
        EXPECT_EQ(QVGTMBase64::decodeData(d), nullptr);
        EXPECT_EQ(QVGTMBase64::stringByEncodingData(d), nullptr);
        for (bool padded : {true, false}) {
            EXPECT_EQ(QVGTMBase64::webSafeEncodeData(d, padded), nullptr);
            EXPECT_EQ(QVGTMBase64::stringByWebSafeEncodingData(d, padded), nullptr);
        }
        EXPECT_EQ(QVGTMBase64::webSafeDecodeData(d), nullptr);
    }
    EXPECT_EQ(QVGTMBase64::encodeBytes(bytes, 0), nullptr);
    EXPECT_EQ(QVGTMBase64::decodeBytes(bytes, 0), nullptr);
    EXPECT_EQ(QVGTMBase64::stringByEncodingBytes(bytes, 0), nullptr);
    EXPECT_EQ(QVGTMBase64::webSafeEncodeBytes(bytes, 0, true), nullptr);
    EXPECT_EQ(QVGTMBase64::webSafeDecodeBytes(bytes, 0), nullptr);
    EXPECT_EQ(QVGTMBase64::stringByWebSafeEncodingBytes(bytes, 0, false), nullptr);
    EXPECT_EQ(QVGTMBase64::encodeBytes(nullptr, 4), nullptr);
    EXPECT_EQ(QVGTMBase64::decodeBytes(nullptr, 4), nullptr);
    EXPECT_EQ(QVGTMBase64::decodeString(nullptr), nullptr);
    EXPECT_EQ(QVGTMBase64::webSafeDecodeString(nullptr), nullptr);
    EXPECT_EQ(QVGTMBase64::decodeString(stringOf("")), nullptr);
    EXPECT_EQ(QVGTMBase64::webSafeDecodeString(stringOf("")), nullptr);
    // Whitespace only decodes to nothing, which is failure, not an empty object.
    EXPECT_EQ(QVGTMBase64::decodeString(stringOf(" \r\n\t")), nullptr);
    EXPECT_EQ(QVGTMBase64::webSafeDecodeString(stringOf(" \r\n\t")), nullptr);
}

TEST_F(Base64Class, EncodingFormsAndPadding) {
    Ref<NSData> a = dataOf("A");
    EXPECT_EQ(text(QVGTMBase64::stringByEncodingData(a.get())), "QQ==");
    EXPECT_EQ(text(QVGTMBase64::encodeData(a.get())), "QQ==");
    EXPECT_EQ(text(QVGTMBase64::stringByWebSafeEncodingData(a.get(), false)), "QQ");
    EXPECT_EQ(text(QVGTMBase64::stringByWebSafeEncodingData(a.get(), true)), "QQ==");

    const std::uint8_t fbff[] = {0xFB, 0xFF};
    EXPECT_EQ(text(QVGTMBase64::encodeBytes(fbff, 2)), "+/8=");
    EXPECT_EQ(text(QVGTMBase64::stringByEncodingBytes(fbff, 2)), "+/8=");
    EXPECT_EQ(text(QVGTMBase64::webSafeEncodeBytes(fbff, 2, true)), "-_8=");
    EXPECT_EQ(text(QVGTMBase64::webSafeEncodeBytes(fbff, 2, false)), "-_8");
    EXPECT_EQ(text(QVGTMBase64::stringByWebSafeEncodingBytes(fbff, 2, false)), "-_8");
    Ref<NSData> d = make_ref<NSData>(fbff, sizeof fbff);
    EXPECT_EQ(text(QVGTMBase64::webSafeEncodeData(d.get(), true)), "-_8=");
}

TEST_F(Base64Class, DecodingFamilies) {
    struct Case {
        const char* input;
        std::optional<std::string> standard, webSafe;
    };
    const Case cases[] = {
        {"QQ", std::nullopt, "A"},
        {"QQ==", "A", "A"},
        {"+/8=", "\xFB\xFF", std::nullopt},
        {"-_8=", std::nullopt, "\xFB\xFF"},
        {"-_8", std::nullopt, "\xFB\xFF"},
        {"QUJD\n", "ABC", "ABC"},
        {"QU\r\nJD RA==\n", "ABCD", "ABCD"},
        {"QUJDRA", std::nullopt, "ABCD"},
        {"QQ==QQ==", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        std::string s = c.input;
        Ref<NSData> d = dataOf(s);
        EXPECT_EQ(text(QVGTMBase64::decodeString(stringOf(c.input))), c.standard);
        EXPECT_EQ(text(QVGTMBase64::decodeData(d.get())), c.standard);
        EXPECT_EQ(text(QVGTMBase64::decodeBytes(s.data(), s.size())), c.standard);
        EXPECT_EQ(text(QVGTMBase64::webSafeDecodeString(stringOf(c.input))), c.webSafe);
        EXPECT_EQ(text(QVGTMBase64::webSafeDecodeData(d.get())), c.webSafe);
        EXPECT_EQ(text(QVGTMBase64::webSafeDecodeBytes(s.data(), s.size())), c.webSafe);
    }
}

// U+00A0 has no ASCII form, so the string decoders refuse it; as the
// Latin-1 byte 0xA0 it is whitespace to the decoder.
TEST_F(Base64Class, NoBreakSpaceOnlyAsBytes) {
    NSString* withNbsp = stringOf("QU\xC2\xA0JD");
    ASSERT_NE(withNbsp, nullptr);
    EXPECT_EQ(QVGTMBase64::decodeString(withNbsp), nullptr);
    EXPECT_EQ(QVGTMBase64::webSafeDecodeString(withNbsp), nullptr);
    Ref<NSData> latin1 = dataOf("QU\xA0JD");
    EXPECT_EQ(text(QVGTMBase64::decodeData(latin1.get())), "ABC");
    EXPECT_EQ(text(QVGTMBase64::webSafeDecodeData(latin1.get())), "ABC");
}

TEST_F(Base64Class, EveryFormRoundTrips) {
    Rng rng(14);
    for (std::size_t n = 1; n <= 200; n++) {
        Bytes in = rng.bytes(n);
        std::string raw(in.begin(), in.end());
        SCOPED_TRACE(n);
        Ref<NSData> data = make_ref<NSData>(in.data(), n);
        NSMutableData* encoded = QVGTMBase64::encodeData(data.get());
        ASSERT_NE(encoded, nullptr);
        EXPECT_EQ(encoded->length(), (n + 2) / 3 * 4);
        EXPECT_EQ(text(QVGTMBase64::stringByEncodingBytes(in.data(), n)), text(encoded));
        EXPECT_EQ(text(QVGTMBase64::decodeData(encoded)), raw);
        EXPECT_EQ(text(QVGTMBase64::decodeString(QVGTMBase64::stringByEncodingData(data.get()))), raw);
        for (bool padded : {true, false}) {
            NSMutableData* web = QVGTMBase64::webSafeEncodeData(data.get(), padded);
            ASSERT_NE(web, nullptr);
            EXPECT_EQ(web->length(), padded ? (n + 2) / 3 * 4 : (8 * n + 5) / 6);
            EXPECT_EQ(text(QVGTMBase64::webSafeDecodeData(web)), raw);
            EXPECT_EQ(text(QVGTMBase64::webSafeDecodeString(
                          QVGTMBase64::stringByWebSafeEncodingBytes(in.data(), n, padded))),
                      raw);
        }
    }
}

TEST_F(Base64Class, ResultsBelongToThePool) {
    NSMutableData* kept = nullptr;
    {
        NSAutoreleasePool inner;
        NSUInteger before = inner.count();
        NSMutableData* encoded = QVGTMBase64::encodeBytes("abc", 3);
        NSString* string = QVGTMBase64::stringByEncodingBytes("abc", 3);
        ASSERT_NE(encoded, nullptr);
        ASSERT_NE(string, nullptr);
        EXPECT_EQ(encoded->retainCount(), 1u);
        EXPECT_EQ(string->retainCount(), 1u);
        EXPECT_GE(inner.count(), before + 2);
        kept = encoded;
        kept->retain();
    }
    EXPECT_EQ(kept->retainCount(), 1u);  // the pool let go of its reference
    EXPECT_EQ(text(kept), "YWJj");
    kept->release();
}
