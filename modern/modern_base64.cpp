// The modern layer's Base64: the QVGTMBase64 coder writing straight into the
// returned string or vector, so no data object or autorelease pool is needed.
#include <new>

#include "QVGTMBase64_PrivateMethods.h"
#include "base64_fault.h"
#include "modern_support.h"

namespace corvane::v1 {

namespace {

using Coder = QVGTMBase64PrivateMethods;

bool isWebSafe(Base64Alphabet alphabet) noexcept { return alphabet == Base64Alphabet::webSafe; }

}  // namespace

std::string base64Encode(ByteView bytes, Base64Alphabet alphabet, Base64Padding padding) {
    if (bytes.empty()) return {};
    const bool padded = padding == Base64Padding::padded;
    std::string text(Coder::encodedLength(bytes.size(), padded), '\0');
    // The coder sized the text itself, so it fills it exactly.
    Coder::baseEncode(bytes.data(), bytes.size(), text.data(), text.size(),
                      Coder::encodeChars(isWebSafe(alphabet)), padded);
    return text;
}

std::vector<std::uint8_t> base64Decode(ByteView text, Base64Alphabet alphabet, Base64Padding padding,
                                       std::error_code& error) noexcept {
    error.clear();
    if (text.empty()) return {};
    try {
        // Zero-filled, as the coder's final check needs.
        std::vector<std::uint8_t> bytes(Coder::decodedCapacity(text.size()));
        NSUInteger decoded =
            Coder::baseDecode(text.data(), text.size(), bytes.data(), bytes.size(),
                              Coder::decodeChars(isWebSafe(alphabet)), padding == Base64Padding::padded);
        if (decoded == 0) {
            error = ErrorCode::invalidInput;
            return {};
        }
        bytes.resize(decoded);
        return bytes;
    } catch (const std::bad_alloc&) {
        error = ErrorCode::outOfMemory;
        return {};
    }
}

std::vector<std::uint8_t> base64Decode(ByteView text, Base64Alphabet alphabet, Base64Padding padding) {
    std::error_code error;
    std::vector<std::uint8_t> bytes = base64Decode(text, alphabet, padding, error);
    if (error == ErrorCode::invalidInput)
        corvane::detail::throwError(error, corvane::detail::base64FaultDetail(text, alphabet, padding));
    corvane::detail::throwIfError(error);
    return bytes;
}

}  // namespace corvane::v1
