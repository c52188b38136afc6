// The tool's streaming stages (over the library's streaming objects)
// in-process: every input cut at every point (and for short inputs at every
// pair of points, and byte by byte) must give what the classes give for the
// whole input at once, refusals included, with the tool's own rules (a NUL
// refused, whitespace only decoding to nothing, -i, line ends).
// cli_stream_test checks the same through the built tool, on fewer cuts;
// modern_stream_test checks the library objects themselves.
#include <Corvane/Foundation.h>
#include <Corvane/QVDes3.h>
#include <Corvane/QVGTMBase64.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Classes/source/QVGTMBase64_PrivateMethods.h"
#include "tests/support/test_support.h"
#include "tools/corvane/io/base64_stream.h"
#include "tools/corvane/io/des3_stream.h"
#include "tools/corvane/tool_error.h"

namespace {

using corvane::test::Rng;
using corvane::tool::Base64DecodeStage;
using corvane::tool::Base64EncodeStage;
using corvane::tool::Base64Family;
using corvane::tool::ByteSink;
using corvane::tool::Des3Stage;
using corvane::tool::MemorySink;
using corvane::tool::ToolError;

std::string text(const corvane::NSData* d) {
    return std::string(static_cast<const char*>(d->bytes()), d->length());
}
std::span<const std::uint8_t> bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}
std::string hex(const std::string& s) { return corvane::test::toHex(corvane::test::bytesOf(s)); }

// What came out of a chain: its bytes, and the failure's message if it failed.
struct Outcome {
    std::string out;
    std::optional<std::string> failure;
};

using MakeStage = std::function<std::unique_ptr<ByteSink>(ByteSink& out)>;

// Feeds input to a fresh stage in the pieces that the cut points make.
Outcome feed(const MakeStage& make, const std::string& input, const std::vector<std::size_t>& cuts) {
    MemorySink sink;
    std::unique_ptr<ByteSink> stage = make(sink);
    Outcome outcome;
    try {
        std::size_t from = 0;
        for (std::size_t cut : cuts) {
            stage->write(bytes(input).subspan(from, cut - from));
            from = cut;
        }
        stage->write(bytes(input).subspan(from));
        stage->finish();
    } catch (const ToolError& e) {
        outcome.failure = e.what();
    }
    outcome.out.assign(sink.bytes().begin(), sink.bytes().end());
    return outcome;
}

// Every way of cutting the input tried: once at each point, at each pair of
// points while the input is short, and into single bytes.
void forEveryCut(const std::string& input,
                 const std::function<void(const std::vector<std::size_t>&)>& check) {
    check({});
    std::vector<std::size_t> single(input.size() > 0 ? input.size() - 1 : 0);
    for (std::size_t i = 0; i < single.size(); ++i) single[i] = i + 1;
    check(single);
    for (std::size_t a = 0; a <= input.size(); ++a) {
        check({a});
        if (input.size() <= 16)
            for (std::size_t b = a; b <= input.size(); ++b) check({a, b});
    }
}

std::string describeCuts(const std::vector<std::size_t>& cuts) {
    std::string text = "cut at";
    for (std::size_t c : cuts) text += " " + std::to_string(c);
    return cuts.empty() ? "whole" : text;
}

// ---------------------------------------------------------------------------
// Base64

bool isAlphabet(char c, bool webSafe) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
           (webSafe ? (c == '-' || c == '_') : (c == '+' || c == '/'));
}

// The class's decoding of the whole text, with the tool's two rules: a NUL
// is refused, text of whitespace only gives no bytes.
std::optional<std::string> expectedDecoding(const std::string& input, bool webSafe) {
    if (input.find('\0') != std::string::npos) return std::nullopt;
    corvane::NSAutoreleasePool pool;
    corvane::NSMutableData* decoded =
        webSafe ? corvane::QVGTMBase64::webSafeDecodeBytes(input.data(), input.size())
                : corvane::QVGTMBase64::decodeBytes(input.data(), input.size());
    if (decoded != nullptr) return text(decoded);
    if (std::all_of(input.begin(), input.end(),
                    [](char c) { return corvane::test_seams::base64IsSpace(static_cast<std::uint8_t>(c)); }))
        return std::string();
    return std::nullopt;
}

std::vector<std::string> decodingCases() {
    std::vector<std::string> cases = {"",
                                      " \t\n",
                                      "\xa0\xff\v\f\r",
                                      "QQ==",
                                      "QQ",
                                      "QUI=",
                                      "QUI",
                                      "QUJD",
                                      "QUJDRA==",
                                      "QUJDRA",
                                      "+/8=",
                                      "-_8=",
                                      "-_8",
                                      "QQ==QQ==",
                                      "QUI=x",
                                      "QUI= \n x",
                                      "QQ=",
                                      "QQ= ",
                                      "QQ= =",
                                      "QQ=\n=",
                                      "QQ= \n = \n",
                                      "QUI==",
                                      "QQ===",
                                      "QQ====",
                                      "=",
                                      "==",
                                      "Q===",
                                      "QUJD=",
                                      "QUJD==",
                                      "QR==",
                                      "QUJ=",
                                      "A",
                                      "AB",
                                      "QU\x80JD",
                                      "QU\xa0JD",
                                      "QU\xffJD",
                                      "Q U\tJ\nD",
                                      std::string("QQ\0xyz", 6),
                                      std::string("QUI=\0", 5),
                                      std::string("QUJD\0", 5),
                                      std::string("\0", 1),
                                      "QUJD*",
                                      "QQ==\n\n  ",
                                      "QUJD\r\nQUJD\r\n",
                                      "QQ==*",
                                      "QUI=-",
                                      "QUI=+",
                                      "Q\xa0Q=\xff="};
    // Every single byte value between two groups, and after a pad.
    for (int b = 0; b < 256; ++b) {
        cases.push_back("QUJD" + std::string(1, static_cast<char>(b)) + "QUJD");
        cases.push_back("QUI=" + std::string(1, static_cast<char>(b)));
    }
    Rng rng(0x5b64);
    for (std::size_t n : {1u, 2u, 3u, 4u, 5u, 40u, 41u, 100u}) {
        corvane::NSAutoreleasePool pool;
        auto data = rng.bytes(n);
        std::string encoded = text(corvane::QVGTMBase64::encodeBytes(data.data(), data.size()));
        std::string webSafe = text(corvane::QVGTMBase64::webSafeEncodeBytes(data.data(), data.size(), false));
        std::string wrapped;
        for (std::size_t i = 0; i < encoded.size(); i += 7)
            wrapped += encoded.substr(i, 7) + (i % 2 ? "\n" : "\r\n");
        cases.insert(cases.end(), {encoded, webSafe, wrapped, wrapped + "QQ", encoded + "=", webSafe + "==",
                                   encoded + "\xff", " " + encoded.substr(0, encoded.size() - 1)});
    }
    return cases;
}

TEST(ToolBase64DecodeStage, EveryCutGivesTheClassesResultOnTheWholeText) {
    for (const std::string& input : decodingCases()) {
        for (bool webSafe : {false, true}) {
            const std::optional<std::string> expected = expectedDecoding(input, webSafe);
            MakeStage make = [&](ByteSink& out) {
                return std::make_unique<Base64DecodeStage>(
                    webSafe ? Base64Family::webSafe : Base64Family::standard, false, "refused", out);
            };
            forEveryCut(input, [&](const std::vector<std::size_t>& cuts) {
                Outcome got = feed(make, input, cuts);
                SCOPED_TRACE((webSafe ? "web-safe \"" : "\"") + hex(input) + "\", " + describeCuts(cuts));
                ASSERT_EQ(!got.failure, expected.has_value()) << got.failure.value_or("no failure");
                if (expected) {
                    ASSERT_EQ(got.out, *expected);
                } else {
                    ASSERT_EQ(*got.failure, "refused");
                    // What went out before the refusal is whole groups of
                    // the text's beginning, as the class decodes them.
                    ASSERT_EQ(got.out.size() % 3, 0u);
                }
            });
        }
    }
}

// With garbage ignored: the class's decoding of the text with every byte
// outside the alphabet, "=" and whitespace taken out first.
TEST(ToolBase64DecodeStage, IgnoringGarbageDecodesWhatRemains) {
    Rng rng(0x6a5);
    const std::string garbage = std::string("*!.\x80\x7f\x01\0#-_+/", 12);
    for (const std::string& clean : {std::string("QUJD"), std::string("QQ=="), std::string("QUI="),
                                     std::string("QUJDRA=="), std::string("-_8="), std::string("+/8=")}) {
        for (bool webSafe : {false, true}) {
            for (int round = 0; round < 8; ++round) {
                std::string dirty = clean;
                for (int k = 0; k < 3; ++k)
                    dirty.insert(rng.range(0, dirty.size()), 1, garbage[rng.range(0, garbage.size() - 1)]);
                std::string kept;
                for (char c : dirty)
                    if (isAlphabet(c, webSafe) || c == '=') kept.push_back(c);
                const std::optional<std::string> expected = expectedDecoding(kept, webSafe);
                MakeStage make = [&](ByteSink& out) {
                    return std::make_unique<Base64DecodeStage>(
                        webSafe ? Base64Family::webSafe : Base64Family::standard, true, "refused", out);
                };
                forEveryCut(dirty, [&](const std::vector<std::size_t>& cuts) {
                    Outcome got = feed(make, dirty, cuts);
                    SCOPED_TRACE((webSafe ? "web-safe \"" : "\"") + hex(dirty) + "\", " + describeCuts(cuts));
                    ASSERT_EQ(!got.failure, expected.has_value());
                    if (expected) {
                        ASSERT_EQ(got.out, *expected);
                    }
                });
            }
        }
    }
}

TEST(ToolBase64EncodeStage, EveryCutGivesTheClassesResultOnTheWholeInput) {
    Rng rng(0xe5c);
    for (std::size_t n = 0; n <= 20; ++n) {
        std::string data(reinterpret_cast<const char*>(rng.bytes(n).data()), n);
        for (int mode = 0; mode < 3; ++mode) {
            const bool webSafe = mode > 0, padded = mode < 2;
            std::string expected;
            if (n > 0) {
                corvane::NSAutoreleasePool pool;
                expected = text(webSafe ? corvane::QVGTMBase64::webSafeEncodeBytes(data.data(), n, padded)
                                        : corvane::QVGTMBase64::encodeBytes(data.data(), n)) +
                           "\n";
            }
            MakeStage make = [&](ByteSink& out) {
                return std::make_unique<Base64EncodeStage>(
                    webSafe ? Base64Family::webSafe : Base64Family::standard, padded, 0, out);
            };
            forEveryCut(data, [&](const std::vector<std::size_t>& cuts) {
                Outcome got = feed(make, data, cuts);
                SCOPED_TRACE(std::to_string(n) + " bytes, mode " + std::to_string(mode) + ", " +
                             describeCuts(cuts));
                ASSERT_FALSE(got.failure);
                ASSERT_EQ(got.out, expected);
            });
        }
    }
}

// Lines of exactly `columns` characters, a line feed after each and after
// a shorter last one; one line with its line feed for 0; nothing for no text.
TEST(ToolBase64EncodeStage, EveryCutGivesTheSameLines) {
    Rng rng(0x11e5);
    for (std::size_t length : {0u, 1u, 3u, 4u, 5u, 9u, 10u}) {
        const std::string input(reinterpret_cast<const char*>(rng.bytes(length).data()), length);
        const std::string encoded = corvane::tool::base64Encode(bytes(input), Base64Family::standard);
        for (std::size_t columns : {0u, 1u, 4u, 12u, 100u}) {
            std::string expected;
            for (std::size_t i = 0; i < encoded.size(); i += columns == 0 ? encoded.size() : columns)
                expected += encoded.substr(i, columns == 0 ? encoded.size() : columns) + "\n";
            MakeStage make = [&](ByteSink& out) {
                return std::make_unique<Base64EncodeStage>(Base64Family::standard, true, columns, out);
            };
            forEveryCut(input, [&](const std::vector<std::size_t>& cuts) {
                SCOPED_TRACE(std::to_string(length) + " characters, " + std::to_string(columns) +
                             " columns, " + describeCuts(cuts));
                ASSERT_EQ(feed(make, input, cuts).out, expected);
            });
        }
    }
}

// ---------------------------------------------------------------------------
// Triple-DES

std::optional<std::string> classDes3(bool encrypt, const std::string& data, const std::string& key,
                                     const std::optional<std::string>& iv) {
    using namespace corvane;
    Ref<NSData> d = make_ref<NSData>(data.data(), data.size()), k = make_ref<NSData>(key.data(), key.size());
    Ref<NSData> v = iv ? make_ref<NSData>(iv->data(), iv->size()) : nullptr;
    Ref<NSData> out = encrypt ? QVDes3::createDes3EncryptData(d.get(), k.get(), v.get(), nullptr)
                              : QVDes3::createDes3DecryptData(d.get(), k.get(), v.get(), nullptr);
    if (!out) return std::nullopt;
    return text(out.get());
}

MakeStage des3Stage(bool encrypt, const std::string& key, const std::optional<std::string>& iv) {
    return [=](ByteSink& out) {
        std::optional<std::span<const std::uint8_t>> ivBytes;
        if (iv) ivBytes = bytes(*iv);
        return std::make_unique<Des3Stage>(encrypt, bytes(key), ivBytes, out);
    };
}

TEST(ToolDes3Stage, EveryCutGivesTheClassesResultOnTheWholeInput) {
    corvane::NSLogSetSink([](const std::string&) {});
    Rng rng(0xde53);
    struct Keys {
        std::string key;
        std::optional<std::string> iv;
    };
    auto random = [&](std::size_t n) {
        auto b = rng.bytes(n);
        return std::string(b.begin(), b.end());
    };
    for (const Keys& k :
         {Keys{random(24), random(8)}, Keys{random(24), std::nullopt}, Keys{random(13), random(3)}}) {
        for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 24u, 25u, 40u}) {
            const std::string data = random(n);
            const std::string sealed = classDes3(true, data, k.key, k.iv).value();
            forEveryCut(data, [&](const std::vector<std::size_t>& cuts) {
                SCOPED_TRACE(std::to_string(n) + " bytes, " + describeCuts(cuts));
                Outcome got = feed(des3Stage(true, k.key, k.iv), data, cuts);
                ASSERT_FALSE(got.failure);
                ASSERT_EQ(got.out, sealed);
            });
            forEveryCut(sealed, [&](const std::vector<std::size_t>& cuts) {
                SCOPED_TRACE(std::to_string(n) + " bytes back, " + describeCuts(cuts));
                Outcome got = feed(des3Stage(false, k.key, k.iv), sealed, cuts);
                ASSERT_FALSE(got.failure) << *got.failure;
                ASSERT_EQ(got.out, data);
            });
        }
    }
}

// Whatever the pieces, decryption fails where the class fails on the whole
// ciphertext: empty, not whole blocks, or bad padding under the key.
TEST(ToolDes3Stage, RefusesWhatTheClassRefusesOnTheWholeInput) {
    corvane::NSLogSetSink([](const std::string&) {});
    Rng rng(0xbad);
    auto random = [&](std::size_t n) {
        auto b = rng.bytes(n);
        return std::string(b.begin(), b.end());
    };
    const std::string key = random(24), iv = random(8);
    const std::string sealed = classDes3(true, random(30), key, iv).value();
    std::vector<std::string> refused = {"", sealed.substr(0, 31), sealed.substr(0, 1), sealed + "x"};
    // Damaged ciphertexts (and tails) that the class refuses as they stand.
    for (int round = 0; refused.size() < 12 && round < 1000; ++round) {
        std::string damaged = sealed;
        damaged[rng.range(16, damaged.size() - 1)] ^= static_cast<char>(1 + rng.range(0, 254));
        if (!classDes3(false, damaged, key, iv)) refused.push_back(damaged);
    }
    for (const std::string& ciphertext : refused) {
        ASSERT_FALSE(classDes3(false, ciphertext, key, iv));
        forEveryCut(ciphertext, [&](const std::vector<std::size_t>& cuts) {
            SCOPED_TRACE(hex(ciphertext) + ", " + describeCuts(cuts));
            Outcome got = feed(des3Stage(false, key, iv), ciphertext, cuts);
            ASSERT_TRUE(got.failure);
            ASSERT_EQ(got.failure->rfind("decryption failed: ", 0), 0u) << *got.failure;
        });
    }
}

}  // namespace
