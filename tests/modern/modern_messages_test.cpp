// What the modern layer's exceptions say beyond their codes: the path of a
// key file and what is wrong with a refused key, both lengths of a block or message that does not fit the
// key, the offset where Base64 text breaks the rules, the triple-DES key's fault. The codes stay those of the
// error_code forms, and a failing triple-DES call writes nothing to the log (the legacy class still does).
#include <Corvane/QVDes3.h>
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/cli/cli_run.h"
#include "tests/support/des3_support.h"
#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

using namespace corvane;
using namespace corvane::test;
namespace cv = corvane::v1;

namespace {

// The thrown Error's code and what(); no code when nothing is thrown.
struct Thrown {
    std::error_code code;
    std::string what;
};
Thrown thrown(const std::function<void()>& call) {
    try {
        call();
    } catch (const cv::Error& e) {
        return {e.code(), e.what()};
    }
    return {};
}

void expectThrown(const std::function<void()>& call, std::error_code code, const std::string& fragment) {
    Thrown t = thrown(call);
    EXPECT_EQ(t.code, code);
    EXPECT_NE(t.what.find(fragment), std::string::npos) << t.what;
    EXPECT_EQ(corvane::test::repeatedPhrase(t.what), "") << t.what;
}

TEST(ModernMessages, KeyFileFailuresNameThePath) {
    TempDir dir;
    const std::string absent = dir.file("absent.pem");
    const std::string garbage = dir.write("garbage.pem", "not a key\n");
    const std::vector<std::pair<std::string, std::error_code>> cases = {
        {absent, std::make_error_code(std::errc::no_such_file_or_directory)},
        {garbage, make_error_code(ErrorCode::keyUnreadable)},
    };
    for (const auto& [path, code] : cases) {
        SCOPED_TRACE(path);
        expectThrown([&] { cv::RsaPublicKey::fromFile(path); }, code, "key file " + path);
        expectThrown([&] { cv::RsaPrivateKey::fromFile(path); }, code, "key file " + path);
    }
}

TEST(ModernMessages, KeyReaderRefusalsSayWhatIsWrong) {
    TempDir dir;
    const cv::RsaPrivateKey key = cv::RsaPrivateKey::fromRecord(cachedRsaKey(512).privateKey);
    const std::string plain = key.toPem(), encrypted = key.toPem(RsaKeyFormat::standard, "secret");
    const struct {
        const char* name;
        std::string text;
        ErrorCode code;  // the same from both readers
        const char* detail;
    } cases[] = {
        {"no key", "not a key\n", ErrorCode::keyUnreadable, "not a DER key structure"},
        {"encrypted, no passphrase", encrypted, ErrorCode::keyEncrypted,
         "the private key is encrypted and no passphrase was given"},
        {"armour cut short", plain.substr(0, plain.size() / 2), ErrorCode::pemDamaged,
         "a BEGIN or END line is cut short or broken: the PEM armour"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.write("refused.pem", c.text);
        const Bytes bytes(c.text.begin(), c.text.end());
        expectThrown([&] { cv::RsaPrivateKey::fromEncoded(bytes); }, c.code, c.detail);
        expectThrown([&] { cv::RsaPublicKey::fromEncoded(bytes); }, c.code, c.detail);
        expectThrown([&] { cv::RsaPrivateKey::fromFile(path); }, c.code,
                     "key file " + path + ": " + c.detail);
        expectThrown([&] { cv::RsaPublicKey::fromFile(path); }, c.code, "key file " + path + ": " + c.detail);
    }
    expectThrown([&] { cv::RsaPrivateKey::fromEncoded(bytesOf(key.publicKey().toPem())); },
                 ErrorCode::notPrivateKey, "a public key or a certificate was given where a private key is wanted");
}

TEST(ModernMessages, BlockAndMessageLengthsAreBothNamed) {
    const RsaKey& key = cachedRsaKey(1024);
    const cv::RsaPrivateKey priv = cv::RsaPrivateKey::fromRecord(key.privateKey);
    const cv::RsaPublicKey pub = priv.publicKey();
    for (std::size_t n : {1u, 100u, 127u, 129u, 300u}) {
        SCOPED_TRACE(n);
        const Bytes block(n, 0x5a);
        const std::string both =
            "the block is " + std::to_string(n) + " bytes; this key's blocks are 128 bytes";
        std::error_code code;
        priv.decrypt(block, code);
        ASSERT_TRUE(code);
        expectThrown([&] { priv.decrypt(block); }, code, both);
        pub.recover(block, code);
        ASSERT_TRUE(code);
        expectThrown([&] { pub.recover(block); }, code, both);
    }
    const Bytes message(118, 'm');
    const std::string tooLong = "the message is 118 bytes; at most 117 fit this key's blocks";
    expectThrown([&] { pub.encrypt(message); }, ErrorCode::badLength, tooLong);
    expectThrown([&] { priv.sign(message); }, ErrorCode::badLength, tooLong);
    // A block of the right length that is no encryption says nothing of lengths.
    Thrown wrong = thrown([&] { priv.decrypt(priv.sign("signed, not encrypted")); });
    EXPECT_EQ(wrong.code, ErrorCode::badData);
    EXPECT_EQ(wrong.what.find("bytes"), std::string::npos) << wrong.what;
}

TEST(ModernMessages, Base64FailuresNameTheOffset) {
    using A = cv::Base64Alphabet;
    using P = cv::Base64Padding;
    struct Case {
        std::string text;
        A alphabet;
        P padding;
        std::string fragment;
    };
    const std::vector<Case> cases = {
        {"QUJD!", A::standard, P::padded, "offset 4: the character is not in the Base64 alphabet"},
        {"QU JD-_==", A::standard, P::unpadded, "offset 5: the character is not in the Base64"},
        {"QUJD+/", A::webSafe, P::unpadded, "offset 4: the character is not in the web-safe Base64"},
        {"Q===", A::standard, P::padded, "offset 1: \"=\" may stand only third or fourth"},
        {"QQ=A", A::standard, P::unpadded, "offset 3: a second \"=\" must complete the group"},
        {"QQ= ", A::standard, P::padded, "offset 4: a second \"=\" must complete the group"},
        {"QQ==QQ==", A::standard, P::padded, "offset 4: only whitespace may follow the padding"},
        {"QUJDQ", A::standard, P::unpadded, "offset 5: the text ends one character into a group"},
        {"QUJDQQ", A::standard, P::padded, "offset 6: the text ends inside a group of four without"},
        {std::string("QQ\0==", 5), A::standard, P::padded, "offset 2: a NUL byte, which Base64 text never holds"},
        {std::string("QUJD\0", 5), A::standard, P::padded, "offset 4: a NUL byte"},
        {std::string("QQ==\0", 5), A::standard, P::padded, "offset 4: a NUL byte"},
        {"QR==", A::standard, P::padded, "offset 1: the unused low bits of the last character"},
        {"QU\nJ", A::standard, P::unpadded, "offset 3: the unused low bits"},
        {" \r\n", A::standard, P::padded, "offset 3: the text holds no Base64 characters"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::error_code code;
        EXPECT_EQ(cv::base64Decode(c.text, c.alphabet, c.padding, code), Bytes{});
        EXPECT_EQ(code, ErrorCode::invalidInput);
        expectThrown([&] { cv::base64Decode(c.text, c.alphabet, c.padding); }, ErrorCode::invalidInput,
                     "the Base64 text breaks the rules at " + c.fragment);
    }
}

// The modern layer refuses empty and over-long keys in every form; the
// class keeps using them (all zeros, or the first 24 bytes).
TEST(ModernMessages, TripleDesKeysOutsideOneTo24BytesAreRefused) {
    const Bytes data = bytesOf("eight by"), iv(8, 1);
    const std::vector<std::pair<Bytes, std::string>> keys = {
        {Bytes{}, "the triple-DES key is empty"},
        {Bytes(25, 7), "the triple-DES key is longer than 24 bytes"},
        {Bytes(64, 7), "the triple-DES key is longer than 24 bytes"},
    };
    const std::error_code invalid = ErrorCode::invalidInput;
    for (const auto& [key, fragment] : keys) {
        SCOPED_TRACE(key.size());
        expectThrown([&] { cv::des3Encrypt(data, key); }, invalid, fragment);
        expectThrown([&] { cv::des3Encrypt(data, key, iv); }, invalid, fragment);
        expectThrown([&] { cv::des3Decrypt(Bytes(16), key); }, invalid, fragment);
        expectThrown([&] { cv::des3Decrypt(Bytes(16), key, iv); }, invalid, fragment);
        std::error_code code;
        EXPECT_EQ(cv::des3Decrypt(Bytes(16), key, iv, code), Bytes{});
        EXPECT_EQ(code, invalid);
        EXPECT_EQ(cv::des3Decrypt(Bytes(16), key, code), Bytes{});
        EXPECT_EQ(code, invalid);

        std::int32_t error = -1;
        Ref<NSData> legacy =
            QVDes3::createDes3EncryptData(dataOf(data).get(), dataOf(key).get(), nullptr, &error);
        ASSERT_TRUE(legacy);
        EXPECT_EQ(error, 0);
        Bytes used = key;
        used.resize(24);  // the class's own key area: cut, or extended with zeros
        EXPECT_EQ(bytesOfData(legacy.get()), cv::des3Encrypt(data, used));
    }
    EXPECT_EQ(cv::des3Decrypt(cv::des3Encrypt(data, Bytes(24, 7)), Bytes(24, 7)), data);
    EXPECT_EQ(cv::des3Decrypt(cv::des3Encrypt(data, Bytes(1, 7)), Bytes(1, 7)), data);
}

TEST(ModernMessages, FailingTripleDesWritesNoLogLineButTheClassStillDoes) {
    const Bytes key(24, 0x42), notBlocks(13, 0);
    LogCapture log;
    expectThrown([&] { cv::des3Decrypt(notBlocks, key); }, ErrorCode::decryptionRefused, "");
    std::error_code code;
    cv::des3Decrypt(notBlocks, key, code);
    EXPECT_EQ(code, ErrorCode::decryptionRefused);
    expectThrown([&] { cv::des3Encrypt("x", Bytes{}); }, ErrorCode::invalidInput, "");
    EXPECT_EQ(log.lines(), std::vector<std::string>{});

    std::int32_t error = 0;
    EXPECT_FALSE(QVDes3::createDes3DecryptData(dataOf(notBlocks).get(), dataOf(key).get(), nullptr, &error));
    EXPECT_EQ(error, -5);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("CCCrypt failed"), std::string::npos) << log.lines()[0];
}

}  // namespace
