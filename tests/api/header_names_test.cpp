// What the public headers declare at global scope must not collide with
// what applications also include: this file compiles OpenSSL's <openssl/md5.h>
// (its own MD5_CTX) with the modern layer, and names of its own spelled like
// the triple-DES operation constants with <Corvane/QVDes3.h>.
#define OPENSSL_SUPPRESS_DEPRECATED  // MD5_Init and friends, used as a peer here
#include <openssl/md5.h>

#define CORVANE_NO_GLOBAL_CC_NAMES
#include <Corvane/QVDes3.h>
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>
#include <array>

// An application's own names that share the legacy spelling.
constexpr int kCCEncrypt = 42;
struct CCOperation {
    int value;
};

TEST(HeaderNames, OpensslMd5AndTheModernLayerShareATranslationUnit) {
    MD5_CTX openssl;  // OpenSSL's record
    MD5_Init(&openssl);
    MD5_Update(&openssl, "abc", 3);
    std::array<std::uint8_t, 16> expected;
    MD5_Final(expected.data(), &openssl);
    EXPECT_EQ(corvane::v1::md5("abc"), expected);
}

TEST(HeaderNames, TripleDesOperationNamesLiveInNamespaceCorvane) {
    EXPECT_EQ(kCCEncrypt, 42);
    EXPECT_EQ(CCOperation{7}.value, 7);
    static_assert(corvane::kCCEncrypt == 0 && corvane::kCCDecrypt == 1);
    using namespace corvane;
    auto data = make_ref<NSData>("eight by", std::size_t{8});
    auto key = make_ref<NSData>("a key of twenty-four b!!", std::size_t{24});
    std::int32_t error = -1;
    Ref<NSData> sealed = QVDes3::createDes3Data(data.get(), key.get(), nullptr, corvane::kCCEncrypt, &error);
    ASSERT_TRUE(sealed);
    Ref<NSData> opened =
        QVDes3::createDes3Data(sealed.get(), key.get(), nullptr, corvane::kCCDecrypt, &error);
    ASSERT_TRUE(opened);
    EXPECT_EQ(std::string(static_cast<const char*>(opened->bytes()), opened->length()), "eight by");
}
