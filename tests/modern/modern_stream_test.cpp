// The modern layer's streaming objects (Base64Encoder, Base64Decoder,
// Des3Encryptor, Des3Decryptor) and its forms that write into the caller's
// memory. One body checks every streaming object: the message in one piece,
// byte by byte, cut at every point (and at every pair of points while
// short), through the allocating and the span forms, on an object reused
// after finish() and after reset(); the result must be the one-shot
// function's on the whole input, refusals included, and no span form may
// write past the room it asked for.
#include <Corvane/Foundation.h>
#include <gtest/gtest.h>

#include <Corvane/corvane.hpp>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "modern/des3/cbc_rules.h"
#include "tests/support/test_support.h"

namespace cv = corvane::v1;
using corvane::ErrorCode;
using corvane::test::Rng;

namespace {

// Swallows the classes' log lines for the duration of a test.
class QuietLog {
public:
    QuietLog() : previous_(corvane::NSLogSetSink([](const std::string&) {})) {}
    ~QuietLog() { corvane::NSLogSetSink(previous_); }

private:
    corvane::NSLogSink previous_;
};

std::string str(const std::vector<std::uint8_t>& b) { return std::string(b.begin(), b.end()); }
std::string randomString(Rng& rng, std::size_t n) { return str(rng.bytes(n)); }

// A streaming object seen through one interface: pieces in, text out, an
// ErrorCode thrown as cv::Error.
class Stream {
public:
    virtual ~Stream() = default;
    virtual std::string update(const std::string& piece, bool intoSpan) = 0;
    virtual std::string finish(bool intoSpan) = 0;
    virtual void reset() = 0;
};

constexpr std::size_t kGuard = 16;
constexpr unsigned char kPoison = 0xA5;

// The span forms get exactly the room they ask for, followed by guard bytes
// that must stay untouched.
template <typename Object, typename Element>
class StreamOf final : public Stream {
public:
    template <typename... Args>
    explicit StreamOf(Args&&... args) : object_(std::forward<Args>(args)...) {}

    std::string update(const std::string& piece, bool intoSpan) override {
        if (!intoSpan) return asString(object_.update(piece));
        const std::size_t room = object_.updateCapacity(piece.size());
        return intoRoom(room, [&](std::span<Element> out) { return object_.update(piece, out); });
    }
    std::string finish(bool intoSpan) override {
        if (!intoSpan) return asString(object_.finish());
        return intoRoom(object_.finishCapacity(), [&](std::span<Element> out) { return object_.finish(out); });
    }
    void reset() override { object_.reset(); }

private:
    template <typename Result>
    static std::string asString(const Result& r) {
        return std::string(r.begin(), r.end());
    }
    std::string intoRoom(std::size_t room, const std::function<std::size_t(std::span<Element>)>& call) {
        std::vector<Element> buffer(room + kGuard, static_cast<Element>(kPoison));
        const std::size_t written = call(std::span<Element>(buffer.data(), room));
        EXPECT_LE(written, room);
        for (std::size_t i = room; i < buffer.size(); ++i)
            EXPECT_EQ(static_cast<unsigned char>(buffer[i]), kPoison) << "written past the room at " << i;
        return std::string(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(written));
    }

    Object object_;
};

// What a message gives: its output, or the code of the refusal.
struct Outcome {
    std::string out;
    std::optional<ErrorCode> refusal;
};

struct Case {
    std::string name;
    std::function<std::unique_ptr<Stream>()> make;
    std::string input;
    Outcome expected;           // the one-shot function on the whole input
    std::size_t outputGroup;    // output before a refusal comes in whole units of this size
};

Outcome run(Stream& stream, const std::string& input, const std::vector<std::size_t>& cuts, bool intoSpan) {
    Outcome got;
    std::size_t from = 0;
    try {
        for (std::size_t cut : cuts) {
            got.out += stream.update(input.substr(from, cut - from), intoSpan);
            from = cut;
        }
        got.out += stream.update(input.substr(from), intoSpan);
    } catch (const cv::Error& e) {
        got.refusal = static_cast<ErrorCode>(e.code().value());
        // The refusal stands until finish(), which ends the message.
        EXPECT_THROW(stream.update("QUJD", intoSpan), cv::Error);
        EXPECT_THROW(stream.finish(intoSpan), cv::Error);
        return got;
    }
    try {
        got.out += stream.finish(intoSpan);
    } catch (const cv::Error& e) {
        got.refusal = static_cast<ErrorCode>(e.code().value());
    }
    return got;
}

// Every way of cutting: whole, byte by byte, at each point, at each pair of
// points while the input is short (every 61st point when it is long).
std::vector<std::vector<std::size_t>> cutsOf(std::size_t n) {
    std::vector<std::vector<std::size_t>> all = {{}};
    std::vector<std::size_t> single;
    for (std::size_t i = 1; i < n; ++i) single.push_back(i);
    all.push_back(single);
    const std::size_t step = n <= 64 ? 1 : 61;
    for (std::size_t a = 0; a <= n; a += step) {
        all.push_back({a});
        if (n <= 16)
            for (std::size_t b = a; b <= n; ++b) all.push_back({a, b});
    }
    return all;
}

void checkStream(const Case& c) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<Stream> stream = c.make();
    const auto cuts = cutsOf(c.input.size());
    for (std::size_t k = 0; k < cuts.size(); ++k) {
        for (bool intoSpan : {false, true}) {
            // The same object serves every message: finish() readies it for the next.
            SCOPED_TRACE("cut " + std::to_string(k) + (intoSpan ? ", into spans" : ", allocating"));
            const Outcome got = run(*stream, c.input, cuts[k], intoSpan);
            ASSERT_EQ(got.refusal, c.expected.refusal);
            if (got.refusal)
                ASSERT_EQ(got.out.size() % c.outputGroup, 0u);
            else
                ASSERT_EQ(got.out, c.expected.out);
        }
    }
    // A message dropped half-way leaves nothing behind after reset().
    try {
        stream->update(c.input.substr(0, c.input.size() / 2 + 1), false);
    } catch (const cv::Error&) {
    }
    stream->reset();
    const Outcome again = run(*stream, c.input, {c.input.size() / 3}, true);
    ASSERT_EQ(again.refusal, c.expected.refusal);
    if (!again.refusal) {
        ASSERT_EQ(again.out, c.expected.out);
    }
}

// ---------------------------------------------------------------------------
// Base64

struct Base64Mode {
    cv::Base64Alphabet alphabet;
    cv::Base64Padding padding;
};
constexpr Base64Mode kBase64Modes[] = {{cv::Base64Alphabet::standard, cv::Base64Padding::padded},
                                       {cv::Base64Alphabet::standard, cv::Base64Padding::unpadded},
                                       {cv::Base64Alphabet::webSafe, cv::Base64Padding::padded},
                                       {cv::Base64Alphabet::webSafe, cv::Base64Padding::unpadded}};

std::string modeName(const Base64Mode& m) {
    return std::string(m.alphabet == cv::Base64Alphabet::webSafe ? "web-safe" : "standard") +
           (m.padding == cv::Base64Padding::padded ? " padded" : " unpadded");
}

// Lines of `width` characters, each (and a shorter last one) ended by a line feed.
std::string wrapped(const std::string& text, std::size_t width) {
    if (width == 0) return text;
    std::string lines;
    for (std::size_t i = 0; i < text.size(); i += width) lines += text.substr(i, width) + "\n";
    return lines;
}

TEST(ModernBase64Encoder, EveryCutGivesTheOneShotText) {
    Rng rng(0xe5c0);
    std::vector<std::string> inputs;
    for (std::size_t n = 0; n <= 20; ++n) inputs.push_back(randomString(rng, n));
    inputs.push_back(randomString(rng, 5000));  // long enough for the vector kernels
    for (const Base64Mode& mode : kBase64Modes)
        for (std::size_t width : {0u, 1u, 4u, 7u, 76u})
            for (const std::string& input : inputs) {
                if (input.size() > 20 && width != 0 && width != 76) continue;
                const std::string expected = wrapped(cv::base64Encode(input, mode.alphabet, mode.padding), width);
                checkStream({modeName(mode) + ", width " + std::to_string(width) + ", " +
                                 std::to_string(input.size()) + " bytes",
                             [&] {
                                 return std::make_unique<StreamOf<cv::Base64Encoder, char>>(mode.alphabet,
                                                                                            mode.padding, width);
                             },
                             input, {expected, std::nullopt}, 1});
            }
}

std::vector<std::string> base64Texts() {
    std::vector<std::string> texts = {"", " \t\n", "\xa0\xff\v\f\r", "QQ==", "QQ", "QUI=", "QUI", "QUJD",
                                      "QUJDRA==", "QUJDRA", "+/8=", "-_8=", "-_8", "QQ==QQ==", "QUI=x",
                                      "QUI= \n x", "QQ=", "QQ= ", "QQ= =", "QQ=\n=", "QQ= \n = \n", "QUI==",
                                      "QQ===", "=", "Q===", "QUJD=", "QR==", "QUJ=", "A", "AB", "QU\x80JD",
                                      "Q U\tJ\nD", "QUJD*", "QQ==\n\n  ", "QUJD\r\nQUJD\r\n", "QUI=-",
                                      "Q\xa0Q=\xff=",
                                      // A NUL byte refuses the text, wherever it stands.
                                      std::string("QQ\0xyz", 6), std::string("QUI=\0", 5),
                                      std::string("QUJD\0QUJD*", 10), std::string("\0", 1),
                                      std::string(" \0QUJD", 6), std::string("QUI=\0=x", 7)};
    for (int b = 0; b < 256; b += 7) texts.push_back("QUJD" + std::string(1, static_cast<char>(b)) + "QU=");
    Rng rng(0x5b64);
    for (std::size_t n : {1u, 2u, 3u, 40u, 41u, 3000u}) {
        const std::string data = randomString(rng, n);
        const std::string standard = cv::base64Encode(data);
        const std::string webSafe =
            cv::base64Encode(data, cv::Base64Alphabet::webSafe, cv::Base64Padding::unpadded);
        texts.insert(texts.end(), {standard, webSafe, wrapped(standard, 7), wrapped(standard, 76) + "QQ",
                                   standard + "=", webSafe + "==", " " + standard.substr(1)});
        // Something else than the alphabet only after a long clean stretch.
        if (standard.size() > 600)
            for (const std::string& odd : {std::string("\n"), std::string("\0xyz", 4), std::string("="),
                                           std::string("*"), std::string("\r\n ")})
                texts.push_back(standard.substr(0, 301) + odd + standard.substr(301));
    }
    return texts;
}

TEST(ModernBase64Decoder, EveryCutGivesTheOneShotBytesOrRefusal) {
    for (const Base64Mode& mode : kBase64Modes)
        for (const std::string& text : base64Texts()) {
            std::error_code error;
            const std::string expected = str(cv::base64Decode(text, mode.alphabet, mode.padding, error));
            Outcome outcome{expected, std::nullopt};
            if (error) outcome.refusal = static_cast<ErrorCode>(error.value());
            checkStream({modeName(mode) + " \"" + corvane::test::toHex(corvane::test::bytesOf(text)) + "\"",
                         [&] {
                             return std::make_unique<StreamOf<cv::Base64Decoder, std::uint8_t>>(mode.alphabet,
                                                                                                 mode.padding);
                         },
                         text, outcome, 3});
        }
}

// A long piece goes to the coder up to its last whole group when its last
// bytes hold no pad and no whitespace, and without them otherwise: every cut
// a few bytes before or after a byte outside the alphabet, in pieces long
// enough for that way, gives the one-shot result.
TEST(ModernBase64Decoder, CutsNearAPieceEndGiveTheOneShotResult) {
    Rng rng(0x64c7);
    const std::string data = randomString(rng, 450);  // 600 characters, no padding
    const std::string odds[] = {"=",  "==",     "\n",     "\r\n",   " ",   std::string("\0", 1),
                                "*",  "\x80", "\xa0", "\xff", "QQ=="};
    for (const Base64Mode& mode : kBase64Modes) {
        const std::string clean = cv::base64Encode(data, mode.alphabet, cv::Base64Padding::unpadded);
        for (const std::string& odd : odds)
            for (std::size_t at : {300u, 301u, 302u, 303u, 596u, 600u}) {
                const std::string text = clean.substr(0, at) + odd + clean.substr(at);
                std::error_code error;
                const std::string expected = str(cv::base64Decode(text, mode.alphabet, mode.padding, error));
                StreamOf<cv::Base64Decoder, std::uint8_t> stream(mode.alphabet, mode.padding);
                for (std::size_t cut = at - 12; cut <= std::min(at + 12, text.size()); ++cut)
                    for (const std::vector<std::size_t>& cuts :
                         {std::vector<std::size_t>{cut}, std::vector<std::size_t>{cut - 141, cut}})
                        for (bool intoSpan : {false, true}) {
                            SCOPED_TRACE(modeName(mode) + ", \"" + corvane::test::toHex(corvane::test::bytesOf(odd)) +
                                         "\" at " + std::to_string(at) + ", cut at " + std::to_string(cut));
                            const Outcome got = run(stream, text, cuts, intoSpan);
                            ASSERT_EQ(got.refusal.has_value(), static_cast<bool>(error));
                            if (!error) {
                                ASSERT_EQ(got.out, expected);
                            }
                        }
            }
    }
}

// blank() tells text of whitespace only (refused at finish) from text that
// has begun.
TEST(ModernBase64Decoder, BlankUntilSomethingButWhitespaceArrives) {
    struct Row {
        const char* text;
        std::size_t length;
        bool blank;
    };
    for (const Row& row : {Row{"", 0, true}, Row{" \r\n\t", 4, true}, Row{"\xa0\xff", 2, true},
                           Row{" Q", 2, false}, Row{"=", 1, false}, Row{"*", 1, false}, Row{"\0", 1, false}}) {
        cv::Base64Decoder decoder;
        std::error_code error;
        std::uint8_t out[8];
        decoder.update(cv::ByteView(reinterpret_cast<const std::uint8_t*>(row.text), row.length), out, error);
        EXPECT_EQ(decoder.blank(), row.blank) << row.text;
    }
}

// ---------------------------------------------------------------------------
// Triple DES

struct Des3Keys {
    std::string key;
    std::optional<std::string> iv;
};

std::vector<Des3Keys> des3Keys(Rng& rng) {
    return {{randomString(rng, 24), randomString(rng, 8)}, {randomString(rng, 24), std::nullopt},
            {randomString(rng, 13), randomString(rng, 3)}, {randomString(rng, 24), randomString(rng, 12)},
            {randomString(rng, 1), std::string()}};
}

// The objects take the keys the one-shot forms take: an empty key or one of
// more than 24 bytes is refused when the object is made.
TEST(ModernDes3Streams, RefuseTheKeysTheOneShotFormsRefuse) {
    for (const std::string& key : {std::string(), std::string(25, 'k')}) {
        EXPECT_THROW(cv::des3Encrypt("data", key), cv::Error);
        EXPECT_THROW(cv::Des3Encryptor{cv::ByteView(key)}, cv::Error);
        EXPECT_THROW((cv::Des3Decryptor{cv::ByteView(key), cv::ByteView(key)}), cv::Error);
    }
}

template <typename Object>
std::function<std::unique_ptr<Stream>()> des3Maker(const Des3Keys& k) {
    return [k]() -> std::unique_ptr<Stream> {
        if (k.iv) return std::make_unique<StreamOf<Object, std::uint8_t>>(cv::ByteView(k.key), cv::ByteView(*k.iv));
        return std::make_unique<StreamOf<Object, std::uint8_t>>(cv::ByteView(k.key));
    };
}

std::vector<std::uint8_t> oneShot(bool encrypt, const std::string& data, const Des3Keys& k,
                                  std::error_code& error) {
    error.clear();
    if (encrypt) return k.iv ? cv::des3Encrypt(data, k.key, *k.iv) : cv::des3Encrypt(data, k.key);
    return k.iv ? cv::des3Decrypt(data, k.key, *k.iv, error) : cv::des3Decrypt(data, k.key, error);
}

TEST(ModernDes3Streams, EveryCutGivesTheOneShotResult) {
    QuietLog quiet;
    Rng rng(0xde53);
    for (const Des3Keys& k : des3Keys(rng))
        for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 24u, 25u, 1000u}) {
            const std::string data = randomString(rng, n);
            std::error_code error;
            const std::string sealed = str(oneShot(true, data, k, error));
            checkStream({"encrypt " + std::to_string(n), des3Maker<cv::Des3Encryptor>(k), data,
                         {sealed, std::nullopt}, 8});
            checkStream({"decrypt " + std::to_string(n), des3Maker<cv::Des3Decryptor>(k), sealed,
                         {data, std::nullopt}, 8});
        }
}

// Long messages in pieces of random sizes, from one byte to several
// bitsliced passes, so that the decryptor's pieces go to both of the
// engine's kernels with the held block in front; the object moved to
// another half-way must go on where it stopped, and the moved-from one
// refuse to.
TEST(ModernDes3Streams, RandomCutsAndMovesGiveTheOneShotResult) {
    Rng rng(0xc075);
    const std::string key = randomString(rng, 24), iv = randomString(rng, 8);
    for (std::size_t n : {4100u, 20000u}) {
        const std::string data = randomString(rng, n);
        const std::string sealed = str(cv::des3Encrypt(data, key, iv));
        for (int round = 0; round < 12; ++round) {
            const std::size_t largest = round % 3 == 0 ? 16 : round % 3 == 1 ? 700 : 9000;
            auto run = [&](auto object, const std::string& input) {
                std::string out;
                std::size_t at = 0;
                bool moved = false;
                while (at < input.size()) {
                    const std::size_t piece = std::min<std::size_t>(rng.range(1, largest), input.size() - at);
                    out += str(object.update(std::string_view(input).substr(at, piece)));
                    at += piece;
                    if (!moved && at > input.size() / 2) {
                        auto other = std::move(object);
                        EXPECT_THROW(object.update(std::string_view(input).substr(0, 8)), cv::Error);
                        object = std::move(other);
                        moved = true;
                    }
                }
                return out + str(object.finish());
            };
            EXPECT_EQ(run(cv::Des3Encryptor(key, iv), data), sealed) << n << " bytes, round " << round;
            EXPECT_EQ(run(cv::Des3Decryptor(key, iv), sealed), data) << n << " bytes, round " << round;
        }
    }
}

// Whatever the cuts, decryption refuses what des3Decrypt refuses on the whole
// ciphertext: empty, not whole blocks, or bad padding under the key.
TEST(ModernDes3Streams, DecryptorRefusesWhatTheOneShotRefuses) {
    QuietLog quiet;
    Rng rng(0xbad);
    const Des3Keys k{randomString(rng, 24), randomString(rng, 8)};
    std::error_code error;
    const std::string sealed = str(oneShot(true, randomString(rng, 30), k, error));
    std::vector<std::string> refused = {"", sealed.substr(0, 31), sealed.substr(0, 1), sealed + "x"};
    for (int round = 0; refused.size() < 12 && round < 1000; ++round) {
        std::string damaged = sealed;
        damaged[rng.range(16, damaged.size() - 1)] ^= static_cast<char>(1 + rng.range(0, 254));
        oneShot(false, damaged, k, error);
        if (error) refused.push_back(damaged);
    }
    for (const std::string& ciphertext : refused) {
        oneShot(false, ciphertext, k, error);
        ASSERT_EQ(error, ErrorCode::decryptionRefused);
        checkStream({"refused " + corvane::test::toHex(corvane::test::bytesOf(ciphertext)),
                     des3Maker<cv::Des3Decryptor>(k), ciphertext, {"", ErrorCode::decryptionRefused}, 8});
    }
}

// The padding check, whose code avoids branches on the bytes, against the
// rule written plainly: the last byte p in 1..8 and the p last bytes all p.
TEST(ModernDes3Streams, PaddingCheckAcceptsExactlyValidPadding) {
    auto plain = [](const std::uint8_t* b) -> std::size_t {
        const unsigned p = b[7];
        if (p < 1 || p > 8) return 0;
        for (unsigned i = 8 - p; i < 8; ++i)
            if (b[i] != p) return 0;
        return p;
    };
    Rng rng(0x9ad);
    for (unsigned p = 0; p < 256; ++p)
        for (unsigned position = 0; position < 8; ++position)
            for (unsigned delta : {0u, 1u, 0x80u, 0xFFu, static_cast<unsigned>(rng.range(1, 255))}) {
                std::uint8_t block[8];
                for (auto& b : block) b = static_cast<std::uint8_t>(p);
                block[position] = static_cast<std::uint8_t>(block[position] ^ delta);
                ASSERT_EQ(corvane::detail::des3PaddingLength(block), plain(block))
                    << "pad " << p << ", byte " << position << " ^ " << delta;
            }
}

// ---------------------------------------------------------------------------
// Forms that write into the caller's memory

TEST(ModernSpanForms, AgreeWithTheAllocatingForms) {
    QuietLog quiet;
    Rng rng(0x5a9);
    for (std::size_t n : {0u, 1u, 2u, 3u, 8u, 57u, 4099u}) {
        const std::string data = randomString(rng, n);
        for (const Base64Mode& mode : kBase64Modes) {
            SCOPED_TRACE(modeName(mode) + ", " + std::to_string(n) + " bytes");
            std::string text(cv::base64EncodedSize(n, mode.padding), '?');
            ASSERT_EQ(cv::base64Encode(data, text, mode.alphabet, mode.padding), text.size());
            ASSERT_EQ(text, cv::base64Encode(data, mode.alphabet, mode.padding));
            // Stale bytes in the room must not change the outcome.
            for (std::uint8_t stale : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
                std::vector<std::uint8_t> bytes(cv::base64DecodedCapacity(text.size()), stale);
                std::error_code error;
                bytes.resize(cv::base64Decode(text, bytes, mode.alphabet, mode.padding, error));
                std::error_code oneShotError;
                ASSERT_EQ(bytes, cv::base64Decode(text, mode.alphabet, mode.padding, oneShotError));
                ASSERT_EQ(error, oneShotError);
            }
        }
        const std::string key = randomString(rng, 24), iv = randomString(rng, 8);
        std::vector<std::uint8_t> sealed(cv::des3EncryptedSize(n));
        ASSERT_EQ(cv::des3Encrypt(data, key, iv, sealed), sealed.size());
        ASSERT_EQ(sealed, cv::des3Encrypt(data, key, iv));
        // The key as IV is the rule of the forms without an IV.
        ASSERT_EQ(cv::des3Encrypt(data, key, key, sealed), sealed.size());
        ASSERT_EQ(sealed, cv::des3Encrypt(data, key));
        std::vector<std::uint8_t> opened(cv::des3DecryptedCapacity(sealed.size()));
        opened.resize(cv::des3Decrypt(sealed, key, key, opened));
        ASSERT_EQ(str(opened), data);
    }
}

// Room too small: invalidInput with both sizes in the message, nothing
// written. Refused decryption: decryptionRefused and the room wiped.
TEST(ModernSpanForms, RefuseTooLittleRoomAndWipeARefusedPlaintext) {
    const std::string data = "sixteen bytes!!!", key = "0123456789abcdefghijklmn";
    const std::vector<std::uint8_t> sealed = cv::des3Encrypt(data, key);
    struct Row {
        const char* name;
        std::size_t need;
        std::function<void(std::span<std::uint8_t>)> call;
    };
    const Row rows[] = {
        {"base64Encode", 24,
         [&](std::span<std::uint8_t> out) {
             cv::base64Encode(data, std::span(reinterpret_cast<char*>(out.data()), out.size()),
                              cv::Base64Alphabet::standard, cv::Base64Padding::padded);
         }},
        {"base64Decode", 18,
         [&](std::span<std::uint8_t> out) {
             cv::base64Decode("QUJDREVGR0hJSktMTU5PUA==", out, cv::Base64Alphabet::standard,
                              cv::Base64Padding::padded);
         }},
        {"des3Encrypt", 24, [&](std::span<std::uint8_t> out) { cv::des3Encrypt(data, key, key, out); }},
        {"des3Decrypt", 24, [&](std::span<std::uint8_t> out) { cv::des3Decrypt(sealed, key, key, out); }},
        {"Des3Encryptor::update", 16, [&](std::span<std::uint8_t> out) { cv::Des3Encryptor(key).update(data, out); }},
        {"Base64Decoder::finish", 3, [&](std::span<std::uint8_t> out) { cv::Base64Decoder().finish(out); }},
    };
    for (const Row& row : rows) {
        std::vector<std::uint8_t> room(row.need - 1 + kGuard, kPoison);
        try {
            row.call(std::span(room.data(), row.need - 1));
            ADD_FAILURE() << row.name << " accepted too little room";
        } catch (const cv::Error& e) {
            EXPECT_EQ(e.code(), ErrorCode::invalidInput) << row.name;
            const std::string message = e.what();
            EXPECT_NE(message.find(std::to_string(row.need - 1)), std::string::npos) << message;
            EXPECT_NE(message.find(std::to_string(row.need)), std::string::npos) << message;
        }
        for (std::uint8_t b : room) ASSERT_EQ(b, kPoison) << row.name << " wrote into too little room";
    }
    std::vector<std::uint8_t> room(sealed.size(), kPoison);
    std::error_code error;
    EXPECT_EQ(cv::des3Decrypt(sealed, "another key", "another key", room, error), 0u);
    EXPECT_EQ(error, ErrorCode::decryptionRefused);
    EXPECT_EQ(room, std::vector<std::uint8_t>(sealed.size(), 0));
}

}  // namespace
