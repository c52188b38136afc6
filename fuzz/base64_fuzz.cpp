// Both Base64 decoders over arbitrary bytes, with either requirePadding
// setting. The first input byte picks the table, the flag, how much shorter
// than needed a second destination is, and whether the rest is the text as
// it stands or is mapped to text made mostly of alphabet characters (so that
// long clean runs, which the vector paths take, are common).
// Checks: the result agrees with a plain per-character reference decoder;
// whatever decodes is stable: encoding it again (padded when padding is
// required) and decoding that gives the same bytes; and every code path the
// CPU has (portable, AVX2, AVX-512 VBMI) gives the same record (result,
// report, every destination byte) when decoding the text into both
// destinations and when encoding the text's bytes.
#include <Corvane/Foundation.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Classes/source/QVGTMBase64_PrivateMethods.h"
#include "tests/support/base64_paths.h"
#include "tests/support/base64_reference.h"

using corvane::NSAutoreleasePool;
using corvane::NSMutableData;
using Coder = corvane::QVGTMBase64PrivateMethods;
namespace seams = corvane::test_seams;

namespace {

std::vector<std::uint8_t> contentsOf(const NSMutableData* d) {
    const auto* p = static_cast<const std::uint8_t*>(d->bytes());
    return std::vector<std::uint8_t>(p, p + d->length());
}

void check(bool condition) {
    if (!condition) std::abort();
}

// In mapped texts, bytes 0xF0-0xFF stand for these, every other byte for
// the alphabet character of its low six bits.
constexpr std::uint8_t kMappedSpecials[16] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0xA0, 0xFF,
                                              '=',  0x00, '.',  0x80, '+',  '/',  '-',  '_'};

// Every path gives the portable path's record for the same call.
template <typename Run>
void checkPathsAgree(Run&& run) {
    static const std::vector<corvane::test::Base64Path> paths = corvane::test::availableBase64Paths();
    const corvane::test::Base64Run portable = run(corvane::test::Base64Path::portable);
    for (auto path : paths) check(run(path) == portable);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    NSAutoreleasePool pool;
    const bool webSafe = (data[0] & 1) != 0;
    const bool requirePadding = (data[0] & 2) != 0;
    const char* table = webSafe ? seams::webSafeBase64DecodeChars() : seams::base64DecodeChars();
    const char* alphabet = webSafe ? seams::webSafeBase64EncodeChars() : seams::base64EncodeChars();
    std::vector<std::uint8_t> text(data + 1, data + size);
    if ((data[0] & 0x20) != 0) {
        for (std::uint8_t& b : text)
            b = b >= 0xF0 ? kMappedSpecials[b & 15] : static_cast<std::uint8_t>(alphabet[b & 63]);
    }

    const std::size_t capacity = seams::base64DecodedCapacity(text.size());
    const std::size_t shortBy = (data[0] >> 2) & 7;
    for (std::size_t destLen : {capacity, capacity > shortBy ? capacity - shortBy : 1}) {
        checkPathsAgree([&](corvane::test::Base64Path path) {
            return corvane::test::base64RunDecode(path, text.data(), text.size(), destLen, table,
                                                  requirePadding);
        });
    }
    for (bool padded : {true, false}) {
        const std::size_t encodedLen = seams::base64EncodedLength(text.size(), padded);
        for (std::size_t destLen : {encodedLen, encodedLen > shortBy ? encodedLen - shortBy : 1}) {
            checkPathsAgree([&](corvane::test::Base64Path path) {
                return corvane::test::base64RunEncode(path, text.data(), text.size(), destLen, alphabet,
                                                      padded);
            });
        }
    }

    NSMutableData* decoded = Coder::baseDecode(text.data(), text.size(), table, requirePadding);
    auto expected = corvane::test::base64ReferenceDecode(text, table, requirePadding);
    check((decoded != nullptr) == expected.has_value());
    if (decoded == nullptr) return 0;
    std::vector<std::uint8_t> bytes = contentsOf(decoded);
    check(bytes == *expected);
    check(!bytes.empty());

    for (bool padded : {true, false}) {
        if (requirePadding && !padded) continue;
        NSMutableData* encoded = Coder::baseEncode(bytes.data(), bytes.size(), alphabet, padded);
        check(encoded != nullptr);
        check(encoded->length() == seams::base64EncodedLength(bytes.size(), padded));
        NSMutableData* again = Coder::baseDecode(encoded->bytes(), encoded->length(), table, requirePadding);
        check(again != nullptr && contentsOf(again) == bytes);
    }
    return 0;
}
