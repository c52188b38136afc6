// Both Base64 decoders over arbitrary bytes, with either requirePadding
// setting. The first input byte picks the table and the flag; the rest is the
// text. Checks: the result agrees with a plain per-character reference
// decoder, and whatever decodes is stable: encoding it again (padded when
// padding is required) and decoding that gives the same bytes.
#include <Corvane/Foundation.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "../tests/support/base64_reference.h"
#include "QVGTMBase64_PrivateMethods.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    NSAutoreleasePool pool;
    const bool webSafe = (data[0] & 1) != 0;
    const bool requirePadding = (data[0] & 2) != 0;
    const char* table = webSafe ? seams::webSafeBase64DecodeChars() : seams::base64DecodeChars();
    const char* alphabet = webSafe ? seams::webSafeBase64EncodeChars() : seams::base64EncodeChars();
    std::vector<std::uint8_t> text(data + 1, data + size);

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
