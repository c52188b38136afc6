// The Base64 core coder: tables, lengths, the published examples of both
// alphabets, round trips and OpenSSL agreement over random data, the
// decoder against a plain per-character reference, and the reports for
// destinations that are too short.
#include <Corvane/Foundation.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "Classes/source/QVGTMBase64_PrivateMethods.h"
#include "tests/support/base64_reference.h"
#include "tests/support/test_support.h"

using namespace corvane;
using namespace corvane::test;
namespace seams = corvane::test_seams;

namespace {

using Coder = QVGTMBase64PrivateMethods;

struct Family {
    const char* name;
    const char* alphabet;
    const char* table;
};
const Family kStandard{"standard", seams::base64EncodeChars(), seams::base64DecodeChars()};
const Family kWebSafe{"websafe", seams::webSafeBase64EncodeChars(), seams::webSafeBase64DecodeChars()};

Bytes contentsOf(const NSData* d) {
    const auto* p = static_cast<const std::uint8_t*>(d->bytes());
    return Bytes(p, p + d->length());
}

std::optional<Bytes> encode(const Bytes& in, const Family& f, bool padded) {
    NSMutableData* d = Coder::baseEncode(in.data(), in.size(), f.alphabet, padded);
    if (d == nullptr) return std::nullopt;
    return contentsOf(d);
}

std::optional<Bytes> decode(const Bytes& text, const Family& f, bool requirePadding) {
    NSMutableData* d = Coder::baseDecode(text.data(), text.size(), f.table, requirePadding);
    if (d == nullptr) return std::nullopt;
    EXPECT_NE(d->length(), 0u) << "an empty object instead of nil";
    return contentsOf(d);
}

// OpenSSL's encoding, turned into the web-safe alphabet and unpadded on request.
Bytes opensslEncode(const Bytes& in, const Family& f, bool padded) {
    std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), in.data(), static_cast<int>(in.size()));
    out.resize(static_cast<std::size_t>(n));
    if (f.alphabet == kWebSafe.alphabet) {
        std::replace(out.begin(), out.end(), '+', '-');
        std::replace(out.begin(), out.end(), '/', '_');
    }
    if (!padded) out.erase(out.find_last_not_of('=') + 1);
    return bytesOf(out);
}

// "\xHH", "\n", "\t" and "\r" in a vector file's text.
Bytes unescape(const std::string& s) {
    Bytes out;
    for (std::size_t k = 0; k < s.size(); k++) {
        if (s[k] != '\\') {
            out.push_back(static_cast<std::uint8_t>(s[k]));
        } else if (s[k + 1] == 'x') {
            out.push_back(fromHex(s.substr(k + 2, 2))[0]);
            k += 3;
        } else {
            char e = s[++k];
            out.push_back(e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : static_cast<std::uint8_t>(e));
        }
    }
    return out;
}

// Inserts random whitespace (the decoder's whole set) at random places.
Bytes sprinkleWhitespace(const Bytes& text, Rng& rng, std::size_t count) {
    static const std::uint8_t kWs[] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0xA0, 0xFF};
    std::vector<std::size_t> at(count);
    for (auto& a : at) a = rng.range(0, text.size());
    std::sort(at.begin(), at.end());
    Bytes out;
    out.reserve(text.size() + count);
    std::size_t next = 0;
    for (std::size_t k = 0; k <= text.size(); k++) {
        while (next < count && at[next] == k) {
            out.push_back(kWs[rng.range(0, 7)]);
            next++;
        }
        if (k < text.size()) out.push_back(text[k]);
    }
    return out;
}

class Base64Coder : public ::testing::Test {
protected:
    NSAutoreleasePool pool;
};

}  // namespace

TEST_F(Base64Coder, TablesAndWhitespaceSet) {
    for (const Family& f : {kStandard, kWebSafe}) {
        int valid = 0;
        for (int c = 0; c < 256; c++) {
            auto v = static_cast<std::uint8_t>(f.table[c]);
            if (v == 99) continue;
            valid++;
            ASSERT_LT(v, 64) << f.name << " entry " << c;
            EXPECT_EQ(static_cast<std::uint8_t>(f.alphabet[v]), c) << f.name;
        }
        EXPECT_EQ(valid, 64) << f.name;
    }
    int differing = 0;
    for (int c = 0; c < 256; c++) differing += kStandard.table[c] != kWebSafe.table[c];
    EXPECT_EQ(differing, 4);
    for (int c = 0; c < 256; c++)
        EXPECT_EQ(seams::base64IsSpace(static_cast<std::uint8_t>(c)), base64ReferenceIsSpace(static_cast<std::uint8_t>(c))) << c;
}

TEST_F(Base64Coder, LengthFunctions) {
    const NSUInteger unpadded[] = {0, 2, 3, 4, 6}, padded[] = {0, 4, 4, 4, 8};
    for (NSUInteger n = 0; n < 5; n++) {
        EXPECT_EQ(seams::base64EncodedLength(n, false), unpadded[n]);
        EXPECT_EQ(seams::base64EncodedLength(n, true), padded[n]);
    }
    // The defining formulas, where they do not overflow.
    for (NSUInteger n = 0; n < 5000; n++) {
        NSUInteger l = (8 * n + 5) / 6;
        EXPECT_EQ(seams::base64EncodedLength(n, false), l) << n;
        EXPECT_EQ(seams::base64EncodedLength(n, true), (l + 3) / 4 * 4) << n;
        EXPECT_EQ(seams::base64DecodedCapacity(n), (n + 3) / 4 * 3) << n;
    }
    // Near the top of the range the lengths stay monotonic rather than wrap.
    NSUInteger big = NSUInteger(-1) / 4 * 3;
    EXPECT_GT(seams::base64EncodedLength(big, true), big);
    EXPECT_GT(seams::base64DecodedCapacity(NSUInteger(-1) - 2), NSUInteger(-1) / 2);
}

TEST_F(Base64Coder, EncodingExamples) {
    auto records = readVecFile(ourVector("base64_encode.vec"));
    ASSERT_EQ(records.size(), 8u);
    for (const auto& r : records) {
        Bytes in = fromHex(r.at("input"));
        SCOPED_TRACE(r.at("input"));
        EXPECT_EQ(encode(in, kStandard, true), bytesOf(r.at("standard")));
        EXPECT_EQ(encode(in, kStandard, false), bytesOf(r.at("standard_unpadded")));
        EXPECT_EQ(encode(in, kWebSafe, true), bytesOf(r.at("websafe")));
        EXPECT_EQ(encode(in, kWebSafe, false), bytesOf(r.at("websafe_unpadded")));
    }
}

TEST_F(Base64Coder, DecodingExamples) {
    auto records = readVecFile(ourVector("base64_decode.vec"));
    ASSERT_GE(records.size(), 50u);
    for (const auto& r : records) {
        Bytes text = unescape(r.at("text"));
        std::optional<Bytes> expected;
        if (r.at("result") != "fail") expected = fromHex(r.at("result"));
        for (const Family& f : {kStandard, kWebSafe}) {
            if (r.at("table") != "both" && r.at("table") != f.name) continue;
            for (bool require : {true, false}) {
                if (r.at("padding") == (require ? "optional" : "required")) continue;
                SCOPED_TRACE(r.at("text") + " " + f.name + (require ? " padding required" : " padding optional"));
                EXPECT_EQ(decode(text, f, require), expected);
                EXPECT_EQ(base64ReferenceDecode(text, f.table, require), expected) << "reference";
            }
        }
    }
}

TEST_F(Base64Coder, EmptyInputAndNullPointersFail) {
    std::uint8_t buf[8] = {};
    const std::uint8_t in[3] = {'A', 'B', 'C'};
    for (const Family& f : {kStandard, kWebSafe}) {
        EXPECT_EQ(Coder::baseEncode(in, 0, f.alphabet, true), nullptr);
        EXPECT_EQ(Coder::baseEncode(nullptr, 3, f.alphabet, true), nullptr);
        EXPECT_EQ(Coder::baseDecode(in, 0, f.table, false), nullptr);
        EXPECT_EQ(Coder::baseDecode(nullptr, 4, f.table, false), nullptr);
        EXPECT_EQ(Coder::baseEncode(in, 3, buf, 0, f.alphabet, true), 0u);
        EXPECT_EQ(Coder::baseEncode(in, 3, nullptr, 8, f.alphabet, true), 0u);
        EXPECT_EQ(Coder::baseDecode("QUJD", 4, buf, 0, f.table, true), 0u);
        EXPECT_EQ(Coder::baseDecode("QUJD", 4, nullptr, 8, f.table, true), 0u);
    }
}

// Every length 0..300 and random larger sizes, in both families, padded and
// not: exact lengths, agreement with OpenSSL, round trips, and the same
// result with whitespace sprinkled through the text.
TEST_F(Base64Coder, RandomDataRoundTrips) {
    Rng rng(64);
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 300; n++) lengths.push_back(n);
    for (unsigned k = 0; k < 20 * longTestFactor(); k++) lengths.push_back(rng.range(301, 100000));
    for (std::size_t n : lengths) {
        Bytes in = rng.bytes(n);
        for (const Family& f : {kStandard, kWebSafe}) {
            for (bool padded : {true, false}) {
                SCOPED_TRACE(std::string(f.name) + " length " + std::to_string(n) + (padded ? " padded" : ""));
                std::optional<Bytes> text = encode(in, f, padded);
                if (n == 0) {
                    EXPECT_EQ(text, std::nullopt);
                    continue;
                }
                ASSERT_TRUE(text.has_value());
                EXPECT_EQ(text->size(), seams::base64EncodedLength(n, padded));
                EXPECT_EQ(*text, opensslEncode(in, f, padded));
                EXPECT_EQ(decode(*text, f, padded), in);
                if (!padded && n % 3 != 0) {
                    EXPECT_EQ(decode(*text, f, true), std::nullopt);
                }
                Bytes spaced = sprinkleWhitespace(*text, rng, 1 + rng.range(0, text->size() / 8));
                EXPECT_EQ(decode(spaced, f, padded), in);
            }
        }
    }
}

TEST_F(Base64Coder, DecodedObjectIsShortenedToTheDecodedLength) {
    Bytes text = bytesOf(std::string("QUJD\r\nRA==\n"));
    NSMutableData* d = Coder::baseDecode(text.data(), text.size(), kStandard.table, true);
    ASSERT_NE(d, nullptr);
    EXPECT_LT(d->length(), seams::base64DecodedCapacity(text.size()));
    EXPECT_EQ(contentsOf(d), bytesOf(std::string("ABCD")));
}

// The decoder's group-at-a-time path against the reference on text that
// mixes valid groups with whitespace, pads, NUL bytes, invalid bytes and the
// other alphabet's characters, at every kind of position.
TEST_F(Base64Coder, DecoderAgreesWithPlainReference) {
    Rng rng(4648);
    const std::uint8_t specials[] = {'=', 0x00, ' ', '\n', 0xA0, 0xFF, 0x80, '+', '/', '-', '_', '.', 'Q', 'A', 'R'};
    for (unsigned round = 0; round < 20000 * longTestFactor(); round++) {
        const Family& source = rng.range(0, 1) ? kStandard : kWebSafe;
        Bytes in = rng.bytes(rng.range(1, 60));
        Bytes text = *encode(in, source, rng.range(0, 1) == 1);
        for (std::uint64_t k = rng.range(0, 3); k > 0; k--) {
            std::size_t at = rng.range(0, text.size());
            std::uint8_t b = rng.range(0, 4) == 0 ? static_cast<std::uint8_t>(rng.u32()) : specials[rng.range(0, sizeof specials - 1)];
            switch (rng.range(0, 2)) {
                case 0: text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), b); break;
                case 1: if (at < text.size()) text[at] = b; break;
                default: text.resize(at); break;
            }
        }
        for (const Family& f : {kStandard, kWebSafe}) {
            for (bool require : {true, false}) {
                ASSERT_EQ(decode(text, f, require), base64ReferenceDecode(text, f.table, require))
                    << toHex(text) << " " << f.name << " " << require;
            }
        }
    }
}

// A table whose alphabet includes bytes the decoder otherwise treats as
// special still decodes one character at a time, by the same rules.
TEST_F(Base64Coder, CustomTableTakesTheRulesLiterally) {
    char table[256];
    std::copy(kStandard.table, kStandard.table + 256, table);
    table[static_cast<unsigned char>(' ')] = 0;  // whitespace is still skipped first
    const Bytes text = bytesOf(std::string("QU JD"));
    EXPECT_EQ(decode(text, {"custom", kStandard.alphabet, table}, true), bytesOf(std::string("ABC")));
    EXPECT_EQ(decode(text, {"custom", kStandard.alphabet, table}, true), base64ReferenceDecode(text, table, true));
}

// ---------------------------------------------------------------------------
// Destinations that are too short: the report names the method, the file and
// the message, and nothing is written past the destination.

namespace {

constexpr std::uint8_t kGuard = 0xA5;

struct Report {
    std::string function, file, description;
    NSInteger line = 0;
};

template <typename Call>
std::optional<Report> reportOf(Call&& call) {
    NSLogSink previous = NSLogSetSink([](const std::string&) {});
    std::optional<Report> report;
    try {
        call();
    } catch (const NSInternalInconsistencyException& e) {
        report = Report{e.function(), e.file(), e.description(), e.line()};
    }
    NSLogSetSink(previous);
    return report;
}

}  // namespace

TEST_F(Base64Coder, EncodeIntoShortDestinationReports) {
    Rng rng(7);
    for (std::size_t n = 1; n <= 40; n++) {
        Bytes in = rng.bytes(n);
        for (bool padded : {true, false}) {
            std::size_t needed = seams::base64EncodedLength(n, padded);
            Bytes full = *encode(in, kStandard, padded);
            for (std::size_t destLen = 1; destLen < needed; destLen++) {
                Bytes dest(destLen + 16, kGuard);
                auto report = reportOf([&] {
                    Coder::baseEncode(in.data(), n, dest.data(), destLen, kStandard.alphabet, padded);
                });
                ASSERT_TRUE(report.has_value()) << n << " into " << destLen;
                EXPECT_EQ(report->function,
                          "+[QVGTMBase64(PrivateMethods) baseEncode:srcLen:destBytes:destLen:charset:padded:]");
                EXPECT_EQ(report->file, "Classes/source/QVGTMBase64");
                EXPECT_EQ(report->description, "our calc for encoded length was wrong");
                EXPECT_GT(report->line, 0);
                for (std::size_t k = destLen; k < dest.size(); k++) ASSERT_EQ(dest[k], kGuard) << n << " into " << destLen;
                // What was written is a prefix of the right encoding.
                for (std::size_t k = 0; k < destLen && dest[k] != kGuard; k++) ASSERT_EQ(dest[k], full[k]);
            }
            Bytes dest(needed + 1, kGuard);
            EXPECT_EQ(Coder::baseEncode(in.data(), n, dest.data(), needed, kStandard.alphabet, padded), needed);
            EXPECT_EQ(dest[needed], kGuard);
        }
    }
}

TEST_F(Base64Coder, DecodeIntoShortDestinationReports) {
    // "QQ==" decodes to one byte but needs a second for the bits written ahead.
    std::uint8_t one[1 + 8];
    std::fill(std::begin(one), std::end(one), kGuard);
    one[0] = 0;
    auto report = reportOf([&] { Coder::baseDecode("QQ==", 4, one, 1, kStandard.table, true); });
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->function,
              "+[QVGTMBase64(PrivateMethods) baseDecode:srcLen:destBytes:destLen:charset:requirePadding:]");
    EXPECT_EQ(report->file, "Classes/source/QVGTMBase64");
    EXPECT_EQ(report->description, "our calc for decoded length was wrong");
    EXPECT_GT(report->line, 0);
    for (std::size_t k = 1; k < sizeof one; k++) EXPECT_EQ(one[k], kGuard);

    std::uint8_t two[2] = {0, 0};
    EXPECT_EQ(Coder::baseDecode("QQ==", 4, two, 2, kStandard.table, true), 1u);
    EXPECT_EQ(two[0], 0x41);
}

// Random text into every destination length: the same outcome (bytes,
// failure or report) and the same destination contents as the reference,
// and never a write past the end.
TEST_F(Base64Coder, DecodeIntoEveryDestinationLengthMatchesReference) {
    Rng rng(99);
    for (unsigned round = 0; round < 300; round++) {
        Bytes in = rng.bytes(rng.range(1, 30));
        Bytes text = sprinkleWhitespace(*encode(in, kWebSafe, rng.range(0, 1) == 1), rng, rng.range(0, 3));
        if (rng.range(0, 3) == 0) text[rng.range(0, text.size() - 1)] = static_cast<std::uint8_t>(rng.u32());
        for (std::size_t destLen = 1; destLen <= seams::base64DecodedCapacity(text.size()); destLen++) {
            for (bool require : {true, false}) {
                Bytes ours(destLen + 8, 0), theirs(destLen, 0);
                std::fill(ours.begin() + static_cast<std::ptrdiff_t>(destLen), ours.end(), kGuard);
                NSUInteger decoded = 0;
                auto report = reportOf([&] {
                    decoded = Coder::baseDecode(text.data(), text.size(), ours.data(), destLen, kWebSafe.table, require);
                });
                auto expected = base64ReferenceDecode(text.data(), text.size(), theirs.data(), destLen, kWebSafe.table, require);
                SCOPED_TRACE(toHex(text) + " into " + std::to_string(destLen));
                ASSERT_EQ(report.has_value(), expected.destinationTooShort);
                ASSERT_EQ(decoded, expected.decoded);
                for (std::size_t k = destLen; k < ours.size(); k++) ASSERT_EQ(ours[k], kGuard);
                if (report.has_value() || decoded != 0) {
                    ASSERT_EQ(Bytes(ours.begin(), ours.begin() + static_cast<std::ptrdiff_t>(destLen)), theirs);
                }
            }
        }
    }
}
