// The modern layer of <Corvane/corvane.hpp> against the legacy API on the
// same inputs: equal results, the legacy failures as exceptions (or error
// codes) carrying the right ErrorCode, and no autorelease pool needed.
#include <Corvane/Foundation.h>
#include <Corvane/QVDes3.h>
#include <Corvane/QVGTMBase64.h>
#include <Corvane/md5.h>
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>
#include <algorithm>
#include <array>
#include <cctype>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "Classes/source/QVDes3_seams.h"
#include "Classes/source/QVGTMBase64_PrivateMethods.h"
#include "platform/allocation.h"
#include "tests/support/rsa/rsa_calls.h"
#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

using namespace corvane;
using namespace corvane::test;
namespace cv = corvane::v1;

namespace {

// Runs the call and returns the code of the Error it throws (nullopt when it
// throws nothing); any other exception fails the test.
std::optional<std::error_code> thrownCode(const std::function<void()>& call) {
    try {
        call();
    } catch (const cv::Error& e) {
        return e.code();
    }
    return std::nullopt;
}

Bytes asBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes bytesOf(const NSData* data) {
    if (data == nullptr) return {};
    auto s = data->span();
    return Bytes(s.begin(), s.end());
}

// Swallows the classes' log lines for the duration of a test.
class QuietLog {
public:
    QuietLog() : previous_(NSLogSetSink([](const std::string&) {})) {}
    ~QuietLog() { NSLogSetSink(previous_); }

private:
    NSLogSink previous_;
};

cv::Md5::Digest legacyMd5(const Bytes& m) {
    MD5_CTX ctx;
    QvMD5Init(&ctx);
    QvMD5Update(&ctx, m.data(), static_cast<std::uint32_t>(m.size()));
    cv::Md5::Digest d;
    QvMD5Final(d.data(), &ctx);
    return d;
}

}  // namespace

// ---------------------------------------------------------------------------
// MD5

TEST(ModernMd5, AgreesWithTheLegacyFunctionsInEveryPieceSize) {
    Rng rng(0x5d5);
    for (std::size_t n : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 127u, 128u, 129u, 1000u}) {
        Bytes m = rng.bytes(n);
        cv::Md5::Digest expected = legacyMd5(m);
        EXPECT_EQ(cv::md5(m), expected) << n;

        cv::Md5 bytewise;
        for (std::uint8_t b : m) bytewise.update(cv::ByteView(&b, 1));
        EXPECT_EQ(bytewise.finish(), expected) << n;
        // finish starts over: the object serves a second message at once.
        EXPECT_EQ(bytewise.update(m).finish(), expected) << n;

        for (std::size_t split = 0; split <= n && n <= 129; split++) {
            cv::Md5 two;
            two.update(std::span(m).first(split)).update(std::span(m).subspan(split));
            ASSERT_EQ(two.finish(), expected) << n << " split at " << split;
        }

        cv::Md5 reset;
        reset.update("something else entirely");
        reset.reset();
        EXPECT_EQ(reset.update(m).finish(), expected) << n;

        cv::Md5 original;
        original.update(std::span(m).first(n / 2));
        cv::Md5 copy = original;
        original.update(std::span(m).subspan(n / 2));
        copy.update(std::span(m).subspan(n / 2));
        EXPECT_EQ(copy.digest(), expected) << n;  // and copy hashes on unchanged
        EXPECT_EQ(original.finish(), expected) << n;
        EXPECT_EQ(copy.update("").finish(), expected) << n;
    }
}

TEST(ModernByteView, TakesEveryByteRangeAndTextsWithoutTheirNul) {
    const cv::Md5::Digest abc = legacyMd5(asBytes("abc"));
    const std::array<std::byte, 3> bytes = {std::byte{'a'}, std::byte{'b'}, std::byte{'c'}};
    const std::vector<std::uint8_t> vec = {'a', 'b', 'c'};
    const unsigned char array[3] = {'a', 'b', 'c'};
    EXPECT_EQ(cv::md5("abc"), abc);  // the literal's NUL is not hashed
    EXPECT_EQ(cv::md5(std::string("abc")), abc);
    EXPECT_EQ(cv::md5(std::string_view("abcdef", 3)), abc);
    EXPECT_EQ(cv::md5(vec), abc);
    EXPECT_EQ(cv::md5(std::span<const std::uint8_t>(vec)), abc);
    EXPECT_EQ(cv::md5(bytes), abc);
    EXPECT_EQ(cv::md5(std::as_bytes(std::span(vec))), abc);
    EXPECT_EQ(cv::md5(array), abc);
    EXPECT_EQ(cv::md5(std::vector<char>{'a', 'b', 'c'}), abc);
    EXPECT_EQ(cv::md5(static_cast<const char*>(nullptr)), legacyMd5({}));
    EXPECT_EQ(cv::md5(std::string("a\0c", 3)), legacyMd5({'a', 0, 'c'}));
}

// ---------------------------------------------------------------------------
// Base64

TEST(ModernBase64, AgreesWithTheLegacyCoderInEveryAlphabetAndPadding) {
    using Coder = QVGTMBase64PrivateMethods;
    NSAutoreleasePool pool;  // for the legacy side only
    Rng rng(0xb64);
    for (std::size_t n = 1; n <= 70; n++) {
        Bytes m = rng.bytes(n);
        for (auto alphabet : {cv::Base64Alphabet::standard, cv::Base64Alphabet::webSafe}) {
            for (auto padding : {cv::Base64Padding::padded, cv::Base64Padding::unpadded}) {
                bool web = alphabet == cv::Base64Alphabet::webSafe,
                     padded = padding == cv::Base64Padding::padded;
                SCOPED_TRACE(std::to_string(n) + (web ? " web-safe" : " standard") +
                             (padded ? " padded" : ""));
                std::string text = cv::base64Encode(m, alphabet, padding);
                EXPECT_EQ(asBytes(text),
                          bytesOf(Coder::baseEncode(m.data(), n, Coder::encodeChars(web), padded)));
                EXPECT_EQ(cv::base64Decode(text, alphabet, padding), m);

                // Damaged texts: the modern decoder fails exactly where the
                // legacy one does, and otherwise gives the same bytes; a NUL,
                // where the legacy coder ends the text, is refused.
                for (int round = 0; round < 4; round++) {
                    std::string damaged = text;
                    std::size_t at = rng.range(0, damaged.size() - 1);
                    const char kChoices[] = "A=+/-_ \n\0.";
                    damaged[at] = kChoices[rng.range(0, sizeof kChoices - 2)];
                    if (round == 3) damaged.resize(at);
                    NSMutableData* legacy =
                        Coder::baseDecode(damaged.data(), damaged.size(), Coder::decodeChars(web), padded);
                    std::error_code error;
                    Bytes modern = cv::base64Decode(damaged, alphabet, padding, error);
                    if (damaged.empty()) {
                        EXPECT_FALSE(error);  // empty text: empty bytes, where the legacy coder gives nil
                    } else if (legacy == nullptr || damaged.find('\0') != std::string::npos) {
                        EXPECT_EQ(error, ErrorCode::invalidInput) << damaged;
                    } else {
                        EXPECT_FALSE(error) << damaged;
                        EXPECT_EQ(modern, bytesOf(legacy)) << damaged;
                    }
                }
            }
        }
        // The public class methods of the families the class offers.
        EXPECT_EQ(asBytes(cv::base64Encode(m)), bytesOf(QVGTMBase64::encodeBytes(m.data(), n)));
        EXPECT_EQ(asBytes(cv::base64Encode(m, cv::Base64Alphabet::webSafe, cv::Base64Padding::unpadded)),
                  bytesOf(QVGTMBase64::webSafeEncodeBytes(m.data(), n, false)));
    }
}

TEST(ModernBase64, BadTextThrowsInvalidInputOrReportsIt) {
    EXPECT_EQ(cv::base64Encode(Bytes{}), "");
    EXPECT_EQ(cv::base64Decode(""), Bytes{});
    EXPECT_EQ(cv::base64Decode("QQ", cv::Base64Alphabet::webSafe, cv::Base64Padding::unpadded), Bytes{0x41});
    EXPECT_EQ(cv::base64Decode("+/8="), (Bytes{0xFB, 0xFF}));
    for (const char* text : {"QQ", " \n\t", "Q===", "QQ==QQ==", "-_8="}) {
        EXPECT_EQ(thrownCode([&] { cv::base64Decode(text); }), ErrorCode::invalidInput) << text;
        std::error_code error;
        EXPECT_EQ(cv::base64Decode(text, cv::Base64Alphabet::standard, cv::Base64Padding::padded, error),
                  Bytes{});
        EXPECT_EQ(error, ErrorCode::invalidInput) << text;
    }
}

// ---------------------------------------------------------------------------
// Triple DES

TEST(ModernDes3, AgreesWithQVDes3ForEveryKeyAndIvLength) {
    QuietLog quiet;
    Rng rng(0xde3);
    for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 16u, 100u}) {
        for (std::size_t keyLength : {3u, 24u, 30u}) {
            for (int ivLength : {-1, 0, 5, 8, 12}) {  // -1: no IV
                SCOPED_TRACE(std::to_string(n) + " bytes, key " + std::to_string(keyLength) + ", iv " +
                             std::to_string(ivLength));
                Bytes data = rng.bytes(n), key = rng.bytes(keyLength);
                Bytes iv = rng.bytes(ivLength < 0 ? 0 : static_cast<std::size_t>(ivLength));
                Ref<NSData> dataObject = make_ref<NSData>(data.data(), data.size());
                Ref<NSData> keyObject = make_ref<NSData>(key.data(), key.size());
                Ref<NSData> ivObject = ivLength < 0 ? nullptr : make_ref<NSData>(iv.data(), iv.size());
                std::int32_t error = 0;
                Bytes legacy = bytesOf(
                    QVDes3::createDes3EncryptData(dataObject.get(), keyObject.get(), ivObject.get(), &error)
                        .get());
                ASSERT_EQ(error, 0);

                // The class cuts a longer key silently; the modern layer refuses it.
                if (keyLength > 24) {
                    EXPECT_EQ(thrownCode([&] { cv::des3Encrypt(data, key, iv); }), ErrorCode::invalidInput);
                    continue;
                }
                Bytes sealed = ivLength < 0 ? cv::des3Encrypt(data, key) : cv::des3Encrypt(data, key, iv);
                EXPECT_EQ(sealed, legacy);
                EXPECT_EQ(ivLength < 0 ? cv::des3Decrypt(sealed, key) : cv::des3Decrypt(sealed, key, iv),
                          data);
            }
        }
    }
}

TEST(ModernDes3, FailuresCarryTheClassCodes) {
    QuietLog quiet;
    const Bytes key(24, 0x42);
    EXPECT_EQ(thrownCode([&] { cv::des3Decrypt(Bytes(13), key); }), ErrorCode::decryptionRefused);
    std::error_code error;
    EXPECT_EQ(cv::des3Decrypt(Bytes(16), key, Bytes(8), error), Bytes{});
    EXPECT_EQ(error, ErrorCode::decryptionRefused);
    EXPECT_EQ(cv::des3Decrypt(cv::des3Encrypt("text", key), key, error), asBytes("text"));
    EXPECT_FALSE(error);

    test_seams::setDes3Cipher([](CCOperation, CCAlgorithm, CCOptions, const void*, std::size_t, const void*,
                                 const void*, std::size_t, void*, std::size_t,
                                 std::size_t*) -> CCCryptorStatus { return kCCMemoryFailure; });
    EXPECT_EQ(thrownCode([&] { cv::des3Encrypt("text", key); }), ErrorCode::encryptionRefused);
    test_seams::setDes3Cipher(nullptr);
    test_seams::failNthAllocation(1);  // the 3DES scratch buffer is its first
    EXPECT_EQ(thrownCode([&] { cv::des3Encrypt("text", key); }), ErrorCode::outOfMemory);
    test_seams::failNthAllocation(0);

    Bytes randomKey = cv::des3RandomKey();
    ASSERT_EQ(randomKey.size(), 24u);
    for (std::uint8_t c : randomKey) EXPECT_TRUE(std::isxdigit(c) && !std::islower(c)) << int(c);
}

// ---------------------------------------------------------------------------
// RSA

TEST(ModernRsa, AgreesWithTheBlockOperations) {
    Rng rng(0x45a);
    for (unsigned bits : {512u, 1000u, 1024u}) {
        SCOPED_TRACE(bits);
        const RsaKey& key = cachedRsaKey(bits);
        cv::RsaPrivateKey priv = cv::RsaPrivateKey::fromRecord(key.privateKey);
        cv::RsaPublicKey pub = priv.publicKey();
        EXPECT_EQ(std::memcmp(&pub.record(), &key.publicKey, sizeof key.publicKey), 0);
        EXPECT_EQ(pub.blockSize(), key.modulusLen());
        EXPECT_EQ(priv.maxMessageSize(), key.modulusLen() - 11);

        for (std::size_t n : {std::size_t{0}, std::size_t{1}, key.modulusLen() - 11}) {
            Bytes m = rng.bytes(n);
            Bytes seed = rng.bytes(256);
            // With equally seeded pools the blocks are equal, byte for byte.
            cv::RandomPool pool = cv::RandomPool::fromSeed(seed);
            R_RANDOM_STRUCT legacyPool;
            QV_R_RandomInit(&legacyPool);
            QV_R_RandomUpdate(&legacyPool, seed.data(), static_cast<std::uint32_t>(seed.size()));
            Bytes block = pub.encrypt(m, pool);
            EXPECT_EQ(block, callPublicEncrypt(key.publicKey, m, legacyPool).out);
            EXPECT_EQ(priv.decrypt(block), m);
            EXPECT_EQ(callPrivateDecrypt(key.privateKey, pub.encrypt(m)).out, m);  // a fresh pool

            Bytes signature = priv.sign(m);
            EXPECT_EQ(signature, callPrivateEncrypt(key.privateKey, m).out);
            EXPECT_EQ(pub.recover(signature), m);
        }
    }
}

TEST(ModernRsa, FailuresThrowTheStatusOrReportIt) {
    const RsaKey& key = cachedRsaKey(512);
    cv::RsaPrivateKey priv = cv::RsaPrivateKey::fromRecord(key.privateKey);
    cv::RsaPublicKey pub = priv.publicKey();
    const Bytes garbage(64, 0x01);

    EXPECT_EQ(thrownCode([&] { pub.encrypt(Bytes(54)); }), ErrorCode::badLength);
    EXPECT_EQ(thrownCode([&] { priv.sign(Bytes(54)); }), ErrorCode::badLength);
    EXPECT_EQ(thrownCode([&] { priv.decrypt(garbage); }), ErrorCode::badData);
    EXPECT_EQ(thrownCode([&] { priv.decrypt(Bytes(65)); }), ErrorCode::badLength);
    EXPECT_EQ(thrownCode([&] { pub.recover(garbage); }), ErrorCode::badData);
    cv::RandomPool unseeded = cv::RandomPool::fromSeed("short");
    EXPECT_EQ(thrownCode([&] { pub.encrypt("x", unseeded); }), ErrorCode::notSeeded);

    std::error_code error;
    EXPECT_EQ(priv.decrypt(garbage, error), Bytes{});
    EXPECT_EQ(error, ErrorCode::badData);
    EXPECT_EQ(pub.recover(priv.sign("ok"), error), asBytes("ok"));
    EXPECT_FALSE(error);
    EXPECT_EQ(pub.recover(garbage, error), Bytes{});
    EXPECT_EQ(error, ErrorCode::badData);

    R_RSA_PUBLIC_KEY record = key.publicKey;
    record.bits = 0;
    EXPECT_EQ(thrownCode([&] { cv::RsaPublicKey::fromRecord(record); }), ErrorCode::keyInvalid);
    record.bits = 1025;
    EXPECT_EQ(thrownCode([&] { cv::RsaPublicKey::fromRecord(record); }), ErrorCode::keyTooLarge);
    EXPECT_EQ(thrownCode([&] { cv::RsaPrivateKey::fromEncoded("not a key"); }), ErrorCode::keyUnreadable);
    EXPECT_EQ(thrownCode([&] { cv::RsaPublicKey::fromFile("/nonexistent/key.pem"); }),
              std::errc::no_such_file_or_directory);
    EXPECT_EQ(thrownCode([&] { cv::RsaPublicKey::fromHex("zz", "03"); }), ErrorCode::keyInvalid);
}

TEST(ModernRsa, KeysAreValuesThatLeaveNothingBehindWhenMoved) {
    const RsaKey& key = cachedRsaKey(768);
    cv::RsaPrivateKey priv = cv::RsaPrivateKey::fromRecord(key.privateKey);
    cv::RsaPrivateKey copy = priv;
    EXPECT_EQ(std::memcmp(&copy.record(), &key.privateKey, sizeof key.privateKey), 0);

    cv::RsaPrivateKey moved = std::move(copy);
    R_RSA_PRIVATE_KEY zero{};
    EXPECT_EQ(std::memcmp(&copy.record(), &zero, sizeof zero), 0);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(std::memcmp(&moved.record(), &key.privateKey, sizeof zero), 0);
    copy = priv;
    EXPECT_EQ(std::memcmp(&copy.record(), &key.privateKey, sizeof zero), 0);

    // PEM and hexadecimal texts bring the same keys back.
    std::string pem = priv.toPem(RsaKeyFormat::pkcs1, "pass");
    cv::RsaPrivateKey fromPem = cv::RsaPrivateKey::fromEncoded(pem, "pass");
    const R_RSA_PRIVATE_KEY largerFirst = privateKeyWithPrimeOrder(key, true);
    EXPECT_EQ(std::memcmp(&fromPem.record(), &largerFirst, sizeof zero), 0);
    cv::RsaPublicKey pub = priv.publicKey();
    RsaHexKey hex = pub.toHex();
    EXPECT_EQ(cv::RsaPublicKey::fromHex(hex.modulus, hex.exponent).toPem(), pub.toPem());
    EXPECT_EQ(cv::RsaPublicKey::fromEncoded(pub.toPem(RsaKeyFormat::pkcs1)).toHex().modulus, hex.modulus);
    // DER likewise, plain and encrypted, in both structures.
    for (RsaKeyFormat format : {RsaKeyFormat::standard, RsaKeyFormat::pkcs1}) {
        EXPECT_EQ(cv::RsaPublicKey::fromEncoded(pub.toDer(format)).toPem(), pub.toPem());
        cv::RsaPrivateKey fromDer = cv::RsaPrivateKey::fromEncoded(priv.toDer(format));
        EXPECT_EQ(std::memcmp(&fromDer.record(), &largerFirst, sizeof zero), 0);
    }
    cv::RsaPrivateKey fromSealedDer = cv::RsaPrivateKey::fromEncoded(priv.toDer(RsaKeyFormat::standard, "pw"), "pw");
    EXPECT_EQ(std::memcmp(&fromSealedDer.record(), &largerFirst, sizeof zero), 0);
    EXPECT_EQ(thrownCode([&] { priv.toDer(RsaKeyFormat::pkcs1, "pw"); }), ErrorCode::invalidInput);
}

// ---------------------------------------------------------------------------
// Random pool

TEST(ModernRandomPool, AgreesWithTheLegacyPoolAndRefusesWhileUnseeded) {
    Rng rng(0x9001);
    Bytes first = rng.bytes(200), second = rng.bytes(100);
    cv::RandomPool pool = cv::RandomPool::fromSeed(first);
    EXPECT_EQ(pool.bytesNeeded(), 56u);
    EXPECT_EQ(thrownCode([&] { pool.generate(1); }), ErrorCode::notSeeded);
    pool.addSeed(second);
    EXPECT_EQ(pool.bytesNeeded(), 0u);

    R_RANDOM_STRUCT legacy;
    QV_R_RandomInit(&legacy);
    QV_R_RandomUpdate(&legacy, first.data(), static_cast<std::uint32_t>(first.size()));
    QV_R_RandomUpdate(&legacy, second.data(), static_cast<std::uint32_t>(second.size()));
    Bytes expected(100);
    QV_R_GenerateBytes(expected.data(), 40, &legacy);
    QV_R_GenerateBytes(expected.data() + 40, 60, &legacy);
    Bytes got = pool.generate(40);
    Bytes rest(60);
    pool.generate(std::span(rest));
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, expected);

    // A moved-from pool is wiped and unseeded: it never replays the output.
    cv::RandomPool taken = std::move(pool);
    EXPECT_EQ(thrownCode([&] { pool.generate(1); }),
              ErrorCode::notSeeded);  // NOLINT(bugprone-use-after-move)
    QV_R_GenerateBytes(expected.data(), 16, &legacy);
    EXPECT_EQ(taken.generate(16), Bytes(expected.begin(), expected.begin() + 16));

    cv::RandomPool fresh;
    EXPECT_EQ(fresh.bytesNeeded(), 0u);
    EXPECT_NE(fresh.generate(16), cv::RandomPool().generate(16));
}

// ---------------------------------------------------------------------------
// No autorelease pool

TEST(ModernLayer, NeedsNoAutoreleasePoolOnAThreadWithoutOne) {
    // A thread that autoreleases with no pool logs a line saying so (and
    // keeps the object until it exits); the modern layer must never cause it.
    std::mutex mutex;
    std::vector<std::string> lines;
    NSLogSink previous = NSLogSetSink([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    });
    auto poolWarnings = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return std::count_if(lines.begin(), lines.end(),
                             [](const std::string& l) { return l.find("no pool") != std::string::npos; });
    };
    std::string pem;
    ASSERT_FALSE(rsaPrivateKeyToPem(privateKeyWithPrimeOrder(cachedRsaKey(512), true), pem));

    std::thread([&] {
        cv::md5("text");
        cv::Md5().update("streamed").finish();
        std::string text =
            cv::base64Encode("bytes", cv::Base64Alphabet::webSafe, cv::Base64Padding::unpadded);
        cv::base64Decode(text, cv::Base64Alphabet::webSafe, cv::Base64Padding::unpadded);
        std::error_code error;
        cv::base64Decode("!!", cv::Base64Alphabet::standard, cv::Base64Padding::padded, error);
        EXPECT_TRUE(thrownCode([] { cv::base64Decode("!!"); }));
        Bytes key = cv::des3RandomKey();
        cv::des3Decrypt(cv::des3Encrypt("data", key, "iv"), key, "iv");
        cv::des3Decrypt(Bytes(13), key, error);
        cv::RsaPrivateKey priv = cv::RsaPrivateKey::fromEncoded(pem);
        cv::RsaPublicKey pub = priv.publicKey();
        EXPECT_EQ(priv.decrypt(pub.encrypt("message")), asBytes("message"));
        EXPECT_EQ(pub.recover(priv.sign("signed")), asBytes("signed"));
        cv::RsaPublicKey::fromEncoded(pub.toPem());
        pub.toHex();
        cv::RandomPool().generate(8);
    }).join();
    EXPECT_EQ(poolWarnings(), 0);

    // The check does notice a legacy call whose result goes to a pool.
    std::thread([] { QVGTMBase64::encodeBytes("x", 1); }).join();
    EXPECT_EQ(poolWarnings(), 1);
    NSLogSetSink(previous);
}
