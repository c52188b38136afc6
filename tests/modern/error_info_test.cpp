// The forms that report in an ErrorInfo give the code and the message the
// exception gives, for every kind of call that has one, and nothing on
// success; a NUL byte in Base64 text is refused with its offset, one-shot
// and streamed.
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

namespace cv = corvane::v1;
using corvane::ErrorCode;
using corvane::test::Bytes;

namespace {

struct Case {
    std::string name;
    std::function<void()> throwing;
    std::function<bool(cv::ErrorInfo&)> reporting;  // true when the form returned an empty result
};

TEST(ErrorInfo, EveryFormReportsWhatTheExceptionSays) {
    const auto& k = corvane::test::cachedRsaKey(512);
    const cv::RsaPrivateKey key = cv::RsaPrivateKey::fromRecord(k.privateKey);
    const cv::RsaPublicKey pub = key.publicKey();
    cv::RandomPool pool = cv::RandomPool::fromSeed(std::string(256, 'p'));
    const Bytes shortBlock(3, 1), desKey(24, 7);
    const std::string nul("QUJD\0QQ==", 9);
    std::vector<std::uint8_t> room(64);
    cv::Base64Decoder decoder;
    const std::vector<Case> cases = {
        {"base64Decode", [&] { cv::base64Decode(nul); },
         [&](cv::ErrorInfo& e) { return cv::base64Decode(nul, cv::Base64Alphabet::standard, cv::Base64Padding::padded, e).empty(); }},
        {"base64Decode into room", [&] { cv::base64Decode("QQ!", room, cv::Base64Alphabet::standard, cv::Base64Padding::padded); },
         [&](cv::ErrorInfo& e) {
             return cv::base64Decode("QQ!", room, cv::Base64Alphabet::standard, cv::Base64Padding::padded, e) == 0;
         }},
        {"Base64Decoder::update", [&] { cv::Base64Decoder().update(nul, room); },
         [&](cv::ErrorInfo& e) { return decoder.update(nul, room, e) == 3; }},
        {"hexDecode", [&] { cv::hexDecode("0g"); },
         [&](cv::ErrorInfo& e) { return cv::hexDecode("0g", cv::HexWhitespace::reject, e).empty(); }},
        {"fromFile", [&] { cv::RsaPrivateKey::fromFile("/nonexistent/key.pem"); },
         [&](cv::ErrorInfo& e) { return !cv::RsaPrivateKey::fromFile("/nonexistent/key.pem", {}, {}, e); }},
        {"fromEncoded", [&] { cv::RsaPublicKey::fromEncoded("not a key"); },
         [&](cv::ErrorInfo& e) { return !cv::RsaPublicKey::fromEncoded("not a key", {}, {}, e); }},
        {"encrypt", [&] { pub.encrypt(Bytes(60), pool); },
         [&](cv::ErrorInfo& e) { return pub.encrypt(Bytes(60), pool, e).empty(); }},
        {"recover", [&] { pub.recover(shortBlock); }, [&](cv::ErrorInfo& e) { return pub.recover(shortBlock, e).empty(); }},
        {"decrypt", [&] { key.decrypt(Bytes(65, 1)); }, [&](cv::ErrorInfo& e) { return key.decrypt(Bytes(65, 1), e).empty(); }},
        {"decrypt, implicit rejection", [&] { key.decrypt(Bytes(65, 1), cv::RsaRejection::implicit); },
         [&](cv::ErrorInfo& e) { return key.decrypt(Bytes(65, 1), cv::RsaRejection::implicit, e).empty(); }},
        {"decryptKey", [&] { key.decryptKey(shortBlock, 24); },
         [&](cv::ErrorInfo& e) { return key.decryptKey(shortBlock, 24, e).empty(); }},
        {"sign", [&] { key.sign(Bytes(60)); }, [&](cv::ErrorInfo& e) { return key.sign(Bytes(60), e).empty(); }},
        {"des3Decrypt", [&] { cv::des3Decrypt(Bytes(13), desKey); },
         [&](cv::ErrorInfo& e) { return cv::des3Decrypt(Bytes(13), desKey, e).empty(); }},
        {"des3Decrypt into room", [&] { cv::des3Decrypt(Bytes(16), desKey, desKey, std::span(room).first(2)); },
         [&](cv::ErrorInfo& e) { return cv::des3Decrypt(Bytes(16), desKey, desKey, std::span(room).first(2), e) == 0; }},
        {"des3DecryptWithPassphrase", [&] { cv::des3DecryptWithPassphrase("Salted", "pass"); },
         [&](cv::ErrorInfo& e) { return cv::des3DecryptWithPassphrase("Salted", "pass", 1, "sha256", e).empty(); }},
        {"openEnvelope", [&] { cv::openEnvelope(key, shortBlock, Bytes(8)); },
         [&](cv::ErrorInfo& e) { return cv::openEnvelope(key, shortBlock, Bytes(8), e).empty(); }},
        {"sealEnvelope", [&] { cv::sealEnvelope(cv::RsaPublicKey::fromHex(std::string(67, 'c') + "d", "03"), "m"); },
         [&](cv::ErrorInfo& e) {
             return cv::sealEnvelope(cv::RsaPublicKey::fromHex(std::string(67, 'c') + "d", "03"), "m", pool,
                                     cv::Des3KeyForm::bytes, e)
                 .payload.empty();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string thrown;
        std::error_code code;
        try {
            c.throwing();
            ADD_FAILURE() << "nothing thrown";
        } catch (const std::system_error& e) {
            thrown = e.what();
            code = e.code();
        }
        cv::ErrorInfo info;
        info.message = "left from before";
        EXPECT_TRUE(c.reporting(info));
        EXPECT_TRUE(info);
        EXPECT_EQ(info.code, code);
        EXPECT_EQ(info.message, thrown);
    }
    // Success leaves it empty.
    cv::ErrorInfo info{ErrorCode::badData, "stale"};
    EXPECT_EQ(cv::base64Decode("QQ==", cv::Base64Alphabet::standard, cv::Base64Padding::padded, info), Bytes{'A'});
    EXPECT_FALSE(info);
    EXPECT_EQ(info.message, "");
}

// A NUL byte is refused where it stands, counted from the start of the
// whole text however it was cut; what came before it in whole groups is
// decoded first.
TEST(ErrorInfo, NulBytesAreRefusedWithTheirOffset) {
    const std::string text("QUJDRA==", 8), withNul = std::string("QUJD", 4) + std::string(1, '\0') + "RA==";
    EXPECT_EQ(cv::base64Decode(text), (Bytes{'A', 'B', 'C', 'D'}));
    cv::ErrorInfo info;
    EXPECT_TRUE(cv::base64Decode(withNul, cv::Base64Alphabet::standard, cv::Base64Padding::padded, info).empty());
    EXPECT_NE(info.message.find("offset 4: a NUL byte"), std::string::npos) << info.message;
    for (std::size_t cut = 0; cut <= withNul.size(); ++cut) {
        cv::Base64Decoder decoder;
        std::vector<std::uint8_t> out(16);
        cv::ErrorInfo first, second;
        std::size_t written = decoder.update(std::string_view(withNul).substr(0, cut), out, first);
        if (!first) written += decoder.update(std::string_view(withNul).substr(cut), std::span(out).subspan(written), second);
        const cv::ErrorInfo& refusal = first ? first : second;
        EXPECT_EQ(refusal.code, ErrorCode::invalidInput) << cut;
        EXPECT_NE(refusal.message.find("offset 4: a NUL byte"), std::string::npos) << cut << ": " << refusal.message;
        EXPECT_EQ(written, 3u) << cut;
    }
}

}  // namespace
