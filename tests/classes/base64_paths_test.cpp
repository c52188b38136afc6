// Every vector path of the Base64 coder (AVX2, AVX-512 VBMI) against the
// portable scalar path and the plain reference decoder, on the same inputs:
// every length up to 300 and random large sizes, both alphabets, padded and
// unpadded; decoding with whitespace, pads, NUL and bytes outside the
// alphabet injected at every offset of 64-byte windows; destinations that
// are too short. Paths must agree on everything observable: result, report,
// and every byte of the destination. A path this CPU cannot run is skipped.
#include "tests/support/base64_paths.h"

#include <Corvane/Foundation.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "Classes/source/QVGTMBase64_PrivateMethods.h"
#include "tests/support/base64_reference.h"
#include "tests/support/test_support.h"

using namespace corvane;
using namespace corvane::test;
namespace seams = corvane::test_seams;

namespace {

struct Family {
    const char* name;
    const char* alphabet;
    const char* table;
};
const Family kFamilies[] = {
    {"standard", seams::base64EncodeChars(), seams::base64DecodeChars()},
    {"websafe", seams::webSafeBase64EncodeChars(), seams::webSafeBase64DecodeChars()},
};

// Lengths 0..300, then random ones up to 100 000.
std::vector<std::size_t> testLengths(Rng& rng, unsigned randomCount) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 300; n++) lengths.push_back(n);
    for (unsigned k = 0; k < randomCount * longTestFactor(); k++) lengths.push_back(rng.range(301, 100000));
    return lengths;
}

Bytes encodePortable(const Bytes& in, const Family& f, bool padded) {
    std::size_t n = seams::base64EncodedLength(in.size(), padded);
    Base64Run run = base64RunEncode(Base64Path::portable, in.data(), in.size(), n, f.alphabet, padded);
    return Bytes(run.dest.begin(), run.dest.begin() + static_cast<std::ptrdiff_t>(run.result));
}

// Bytes that end a fast run: the whole whitespace set, the pad, NUL, bytes
// outside both alphabets (ASCII and not), the characters the two alphabets
// do not share, and a few alphabet characters (text that stays valid).
const std::uint8_t kInjected[] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0xA0, 0xFF, '=',  0x00,
                                  0x01, '.',  '@',  '`',  '{',  ':',  0x7F, 0x80, 0xC3, 0xFE,
                                  '+',  '/',  '-',  '_',  'A',  'z',  '9',  'Q'};

class Base64Paths : public ::testing::TestWithParam<Base64Path> {
protected:
    void SetUp() override {
        if (!seams::base64PathAvailable(GetParam()))
            GTEST_SKIP() << "this CPU (or this build) has no " << base64PathName(GetParam())
                         << " path; it is not tested here";
    }

    // Decodes on the path under test and on the portable path into the same
    // destination length; both records must be equal, and the outcome must
    // be the reference decoder's.
    void expectSameDecode(const Bytes& text, std::size_t destLen, const Family& f, bool require) {
        Base64Run ours = base64RunDecode(GetParam(), text.data(), text.size(), destLen, f.table, require);
        Base64Run portable =
            base64RunDecode(Base64Path::portable, text.data(), text.size(), destLen, f.table, require);
        Bytes reference(destLen, 0);
        Base64ReferenceOutcome expected =
            base64ReferenceDecode(text.data(), text.size(), reference.data(), destLen, f.table, require);
        ASSERT_EQ(ours, portable) << toHex(text) << " into " << destLen << ", " << f.name
                                  << (require ? ", padding required" : "");
        ASSERT_EQ(ours.reported, expected.destinationTooShort) << toHex(text) << " into " << destLen;
        ASSERT_EQ(ours.result, expected.decoded) << toHex(text) << " into " << destLen;
        if (ours.reported || ours.result != 0) {
            ASSERT_TRUE(std::equal(reference.begin(), reference.end(), ours.dest.begin()))
                << toHex(text) << " into " << destLen;
        }
    }
};

// Encoding: the same text as the portable path (which OpenSSL checks in the
// coder's own tests) for every length, and the same report and bytes
// written for destinations that are too short.
TEST_P(Base64Paths, EncodingMatchesPortable) {
    Rng rng(3);
    for (std::size_t n : testLengths(rng, 10)) {
        Bytes in = rng.bytes(n);
        for (const Family& f : kFamilies) {
            for (bool padded : {true, false}) {
                const std::size_t needed = seams::base64EncodedLength(n, padded);
                std::vector<std::size_t> destLens = {needed};
                if (n <= 64) {
                    for (std::size_t d = 1; d < needed; d++) destLens.push_back(d);
                } else {
                    destLens.insert(destLens.end(),
                                    {needed - 1, needed - 3, needed - 4, needed - 65, needed / 2});
                }
                for (std::size_t destLen : destLens) {
                    Base64Run ours = base64RunEncode(GetParam(), in.data(), n, destLen, f.alphabet, padded);
                    Base64Run portable =
                        base64RunEncode(Base64Path::portable, in.data(), n, destLen, f.alphabet, padded);
                    ASSERT_EQ(ours, portable)
                        << f.name << " length " << n << (padded ? " padded" : "") << " into " << destLen;
                    ASSERT_EQ(ours.reported, destLen < needed && n != 0);
                }
            }
        }
    }
}

// Clean encodings of every length, decoded into the data-level capacity and
// into one byte less than the text needs.
TEST_P(Base64Paths, DecodingCleanTextMatches) {
    Rng rng(5);
    for (std::size_t n : testLengths(rng, 10)) {
        Bytes in = rng.bytes(n);
        for (const Family& f : kFamilies) {
            for (bool padded : {true, false}) {
                Bytes text = encodePortable(in, f, padded);
                // Room for the decoded bytes, plus the byte written ahead
                // when the text ends inside a group.
                const std::size_t needed = n + (n % 3 != 0 ? 1 : 0);
                for (bool require : {true, false}) {
                    ASSERT_NO_FATAL_FAILURE(
                        expectSameDecode(text, seams::base64DecodedCapacity(text.size()), f, require));
                    if (needed > 1) {
                        ASSERT_NO_FATAL_FAILURE(expectSameDecode(text, needed - 1, f, require));
                    }
                }
            }
        }
    }
}

// One byte inserted, or one replaced, at every offset of three 64-byte
// windows (the first two vector blocks and the end of the text), for
// whitespace, pads, NUL, invalid bytes and alphabet characters.
TEST_P(Base64Paths, InjectedBytesAtEveryOffset) {
    Rng rng(11);
    for (std::size_t n : {144u, 146u}) {
        Bytes in = rng.bytes(n);
        for (const Family& f : kFamilies) {
            for (bool padded : {true, false}) {
                const Bytes text = encodePortable(in, f, padded);
                std::vector<std::size_t> offsets;
                for (std::size_t k = 0; k < 128; k++) offsets.push_back(k);
                for (std::size_t k = text.size() - 64; k <= text.size(); k++) offsets.push_back(k);
                for (std::size_t at : offsets) {
                    for (std::uint8_t b : kInjected) {
                        Bytes inserted = text;
                        inserted.insert(inserted.begin() + static_cast<std::ptrdiff_t>(at), b);
                        Bytes replaced = text;
                        if (at < text.size()) replaced[at] = b;
                        for (bool require : {true, false}) {
                            const Bytes* variants[] = {&inserted, &replaced};
                            for (const Bytes* t : variants) {
                                ASSERT_NO_FATAL_FAILURE(expectSameDecode(
                                    *t, seams::base64DecodedCapacity(t->size()), f, require));
                            }
                        }
                    }
                }
            }
        }
    }
}

// Short texts, around the length at which the decoder hands a text's start
// to the vector kernel at once (32 characters) and within one vector block:
// one byte replaced at every offset.
TEST_P(Base64Paths, ShortTextsWithAByteReplacedAtEveryOffset) {
    Rng rng(12);
    for (std::size_t n = 18; n <= 54; n++) {
        const Bytes in = rng.bytes(n);
        for (const Family& f : kFamilies) {
            const Bytes text = encodePortable(in, f, true);
            for (std::size_t at = 0; at < text.size(); at++) {
                for (std::uint8_t b : kInjected) {
                    Bytes replaced = text;
                    replaced[at] = b;
                    for (bool require : {true, false})
                        ASSERT_NO_FATAL_FAILURE(
                            expectSameDecode(replaced, seams::base64DecodedCapacity(replaced.size()), f, require));
                }
            }
        }
    }
}

// Texts with a few bytes inserted, replaced or cut at random, into every
// destination length from 1 to the capacity.
TEST_P(Base64Paths, EveryDestinationLengthMatches) {
    Rng rng(17);
    for (unsigned round = 0; round < 60 * longTestFactor(); round++) {
        const Family& f = kFamilies[rng.range(0, 1)];
        Bytes text = encodePortable(rng.bytes(rng.range(40, 200)), f, rng.range(0, 1) == 1);
        for (std::uint64_t k = rng.range(0, 2); k > 0; k--) {
            std::size_t at = rng.range(0, text.size() - 1);
            std::uint8_t b = kInjected[rng.range(0, sizeof kInjected - 1)];
            if (rng.range(0, 1) == 0) {
                text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), b);
            } else {
                text[at] = b;
            }
        }
        for (std::size_t destLen = 1; destLen <= seams::base64DecodedCapacity(text.size()); destLen++)
            ASSERT_NO_FATAL_FAILURE(expectSameDecode(text, destLen, f, rng.range(0, 1) == 1));
    }
}

// Large texts, line-wrapped or with scattered noise, decoded whole.
TEST_P(Base64Paths, LargeNoisyTextsMatch) {
    Rng rng(23);
    for (unsigned round = 0; round < 40 * longTestFactor(); round++) {
        const Family& f = kFamilies[round % 2];
        Bytes text = encodePortable(rng.bytes(rng.range(1000, 60000)), f, round % 4 < 2);
        if (round % 3 == 0) {
            // Lines of 64 or 76 characters, ending in CR LF or LF.
            const std::size_t width = rng.range(0, 1) == 1 ? 64 : 76;
            Bytes wrapped;
            for (std::size_t k = 0; k < text.size(); k++) {
                if (k != 0 && k % width == 0) {
                    if (round % 2 == 0) wrapped.push_back('\r');
                    wrapped.push_back('\n');
                }
                wrapped.push_back(text[k]);
            }
            text.swap(wrapped);
        } else {
            for (std::uint64_t k = rng.range(1, 12); k > 0; k--)
                text[rng.range(0, text.size() - 1)] = kInjected[rng.range(0, sizeof kInjected - 1)];
        }
        for (bool require : {true, false})
            ASSERT_NO_FATAL_FAILURE(
                expectSameDecode(text, seams::base64DecodedCapacity(text.size()), f, require));
    }
}

INSTANTIATE_TEST_SUITE_P(VectorPaths, Base64Paths,
                         ::testing::Values(Base64Path::avx2, Base64Path::avx512vbmi),
                         [](const ::testing::TestParamInfo<Base64Path>& path) {
                             return std::string(base64PathName(path.param));
                         });

// The process uses the widest path the CPU has, capped by CORVANE_CPU.
TEST(Base64PathChoice, FollowsTheCpuCap) {
    const char* setting = std::getenv("CORVANE_CPU");
    const std::string cap = setting != nullptr ? setting : "";
    Base64Path expected = Base64Path::portable;
    if (cap != "portable") {
        if (seams::base64PathAvailable(Base64Path::avx2)) expected = Base64Path::avx2;
        if (cap != "avx2" && seams::base64PathAvailable(Base64Path::avx512vbmi))
            expected = Base64Path::avx512vbmi;
    }
    EXPECT_EQ(seams::base64SelectedPath(), expected);
    std::printf("Base64 path in use: %s\n", base64PathName(seams::base64SelectedPath()));
}

}  // namespace
