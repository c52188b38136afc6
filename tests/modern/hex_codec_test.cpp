// The library's hexadecimal codec (hexEncode/hexDecode of <Corvane/corvane.hpp>)
// against OpenSSL's OPENSSL_buf2hexstr/OPENSSL_hexstr2buf, its refusals and
// their offsets, and QVDes3's random keys, which are made with the same digits.
#include <Corvane/QVDes3.h>
#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <Corvane/corvane.hpp>
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

using namespace corvane;
using namespace corvane::test;
namespace cv = corvane::v1;

namespace {

// OpenSSL's text of the bytes, without its ':' separators, upper case.
std::string opensslHex(const Bytes& bytes) {
    char* text = OPENSSL_buf2hexstr(bytes.data(), static_cast<long>(bytes.size()));
    std::string out = text != nullptr ? text : "";
    OPENSSL_free(text);
    std::erase(out, ':');
    return out;
}

std::string lowered(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

TEST(HexCodec, RoundTripsAndAgreesWithOpenssl) {
    Rng rng(0x4e7);
    for (std::size_t n : {1u, 2u, 15u, 16u, 100u, 1000u}) {
        SCOPED_TRACE(n);
        Bytes bytes = rng.bytes(n);
        const std::string upper = cv::hexEncode(bytes, cv::HexCase::upper);
        EXPECT_EQ(upper, opensslHex(bytes));
        EXPECT_EQ(cv::hexEncode(bytes), lowered(upper));
        EXPECT_EQ(cv::hexDecode(upper), bytes);
        EXPECT_EQ(cv::hexDecode(lowered(upper)), bytes);
    }
    EXPECT_EQ(cv::hexEncode(Bytes{}), "");
    EXPECT_EQ(cv::hexDecode(""), Bytes{});
    EXPECT_EQ(cv::hexDecode("00fF7a", cv::HexWhitespace::reject), (Bytes{0x00, 0xff, 0x7a}));
    EXPECT_EQ(cv::hexDecode(" 0 0\tfF\r\n7a\v\f", cv::HexWhitespace::skip), (Bytes{0x00, 0xff, 0x7a}));
    EXPECT_EQ(cv::hexDecode(" \n", cv::HexWhitespace::skip), Bytes{});
}

// Every refusal: the code, and what() naming where the text breaks.
TEST(HexCodec, RefusalsNameTheOffset) {
    struct Case {
        std::string text;
        cv::HexWhitespace whitespace;
        std::string fragment;
    };
    const std::vector<Case> cases = {
        {"abc", cv::HexWhitespace::reject, "even number of hexadecimal digits; this text has 3"},
        {"a b c", cv::HexWhitespace::skip, "this text has 3 (the last, at offset 4, has no partner)"},
        {"0g", cv::HexWhitespace::reject, "not a hexadecimal digit at offset 1"},
        {"00 11", cv::HexWhitespace::reject, "not a hexadecimal digit at offset 2"},
        {"00 1x", cv::HexWhitespace::skip, "not a hexadecimal digit at offset 4"},
        {"0x12", cv::HexWhitespace::skip, "not a hexadecimal digit at offset 1"},
        {std::string("00\0"
                     "11",
                     5),
         cv::HexWhitespace::skip, "not a hexadecimal digit at offset 2"},
        {"\xc3\xa9", cv::HexWhitespace::reject, "not a hexadecimal digit at offset 0"},
        {"abg", cv::HexWhitespace::reject, "not a hexadecimal digit at offset 2"},  // the digit first
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            cv::hexDecode(c.text, c.whitespace);
            ADD_FAILURE() << "decoded";
        } catch (const cv::Error& e) {
            EXPECT_EQ(e.code(), ErrorCode::invalidInput);
            EXPECT_NE(std::string(e.what()).find(c.fragment), std::string::npos) << e.what();
        }
        std::error_code error;
        EXPECT_EQ(cv::hexDecode(c.text, c.whitespace, error), Bytes{});
        EXPECT_EQ(error, ErrorCode::invalidInput);
    }
    std::error_code error = ErrorCode::badData;
    EXPECT_EQ(cv::hexDecode("0A", cv::HexWhitespace::reject, error), Bytes{0x0a});
    EXPECT_FALSE(error);
}

// QVDes3's keys: 24 upper-case digits, each byte of the entropy as two.
TEST(HexCodec, QVDes3RandomKeysAreUpperCaseDigits) {
    for (int round = 0; round < 20; round++) {
        Ref<NSData> key = QVDes3::createRandomDes3Key();
        ASSERT_TRUE(key);
        std::string text(reinterpret_cast<const char*>(key->bytes()), key->length());
        ASSERT_EQ(text.size(), 24u);
        EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), std::string::npos) << text;
        EXPECT_EQ(cv::hexEncode(cv::hexDecode(text), cv::HexCase::upper), text);
    }
}

}  // namespace
