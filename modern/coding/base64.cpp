// The modern layer's Base64: the QVGTMBase64 coder writing straight into the
// returned string or vector, or the caller's memory, so no data object or
// autorelease pool is needed.
#include <Corvane/modern/coding.hpp>
#include <cstdint>
#include <cstring>
#include <new>

#include "Classes/source/QVGTMBase64_PrivateMethods.h"
#include "modern/coding/base64_fault.h"
#include "modern/support/failures.h"

namespace corvane::v1 {

namespace {

using Coder = QVGTMBase64PrivateMethods;

bool isWebSafe(Base64Alphabet alphabet) noexcept { return alphabet == Base64Alphabet::webSafe; }

// The longest input whose sizes below cannot wrap around.
constexpr std::size_t kLongestInput = SIZE_MAX / 8 - 8;

// The coder's decoding of text into out[0, capacity) without filling it
// first: the coder writes every byte it returns and, at the end, reads the
// byte after them, which must be zero. A stale non-zero byte there can only
// turn a success into a refusal, never the reverse, so a refusal is checked
// once more in zero-filled room; refusals are rare and the text short to
// redo compared with filling every call.
std::size_t decodeUnfilled(ByteView text, std::uint8_t* out, std::size_t capacity, Base64Alphabet alphabet,
                           Base64Padding padding) noexcept {
    const char* table = Coder::decodeChars(isWebSafe(alphabet));
    const bool requirePadding = padding == Base64Padding::padded;
    NSUInteger decoded = Coder::baseDecode(text.data(), text.size(), out, capacity, table, requirePadding);
    if (decoded == 0) {
        std::memset(out, 0, capacity);
        decoded = Coder::baseDecode(text.data(), text.size(), out, capacity, table, requirePadding);
    }
    return decoded;
}

// The coder ends the text at a NUL byte; the caller's text has its own
// length, so a NUL in it is a fault the coder would not see.
bool holdsNul(ByteView text) noexcept { return !text.empty() && std::memchr(text.data(), 0, text.size()) != nullptr; }

}  // namespace

std::size_t base64EncodedSize(std::size_t byteCount, Base64Padding padding) noexcept {
    if (byteCount > kLongestInput) return SIZE_MAX;
    return Coder::encodedLength(byteCount, padding == Base64Padding::padded);
}

std::size_t base64DecodedCapacity(std::size_t textLength) noexcept {
    if (textLength > kLongestInput) return SIZE_MAX;
    return Coder::decodedCapacity(textLength);
}

std::size_t base64Encode(ByteView bytes, std::span<char> out, Base64Alphabet alphabet, Base64Padding padding) {
    const std::size_t size = base64EncodedSize(bytes.size(), padding);
    corvane::detail::checkRoom(out.size(), size);
    if (bytes.empty()) return 0;
    return Coder::baseEncode(bytes.data(), bytes.size(), out.data(), size, Coder::encodeChars(isWebSafe(alphabet)),
                             padding == Base64Padding::padded);
}

std::size_t base64Decode(ByteView text, std::span<std::uint8_t> out, Base64Alphabet alphabet,
                         Base64Padding padding, std::error_code& error) noexcept {
    error.clear();
    const std::size_t capacity = base64DecodedCapacity(text.size());
    if (out.size() < capacity || holdsNul(text)) {
        error = ErrorCode::invalidInput;
        return 0;
    }
    if (text.empty()) return 0;
    const std::size_t decoded = decodeUnfilled(text, out.data(), capacity, alphabet, padding);
    if (decoded == 0) error = ErrorCode::invalidInput;
    return decoded;
}

std::size_t base64Decode(ByteView text, std::span<std::uint8_t> out, Base64Alphabet alphabet,
                         Base64Padding padding) {
    corvane::detail::checkRoom(out.size(), base64DecodedCapacity(text.size()));
    std::error_code error;
    const std::size_t decoded = base64Decode(text, out, alphabet, padding, error);
    if (error == ErrorCode::invalidInput)
        corvane::detail::throwError(error, corvane::detail::base64FaultDetail(text, alphabet, padding));
    corvane::detail::throwIfError(error);
    return decoded;
}

std::string base64Encode(ByteView bytes, Base64Alphabet alphabet, Base64Padding padding) {
    if (bytes.empty()) return {};
    const bool padded = padding == Base64Padding::padded;
    const std::size_t size = base64EncodedSize(bytes.size(), padding);
    const char* charset = Coder::encodeChars(isWebSafe(alphabet));
    std::string text;
#if defined(__cpp_lib_string_resize_and_overwrite)
    // The coder writes the characters straight into the string's storage.
    text.resize_and_overwrite(size, [&](char* room, std::size_t length) {
        return Coder::baseEncode(bytes.data(), bytes.size(), room, length, charset, padded);
    });
#else
    // Before C++23 a string cannot be grown without filling it: the fill
    // costs a pass over the text.
    text.resize(size);
    Coder::baseEncode(bytes.data(), bytes.size(), text.data(), text.size(), charset, padded);
#endif
    return text;
}

std::vector<std::uint8_t> base64Decode(ByteView text, Base64Alphabet alphabet, Base64Padding padding,
                                       std::error_code& error) noexcept {
    error.clear();
    if (text.empty()) return {};
    if (holdsNul(text)) {
        error = ErrorCode::invalidInput;
        return {};
    }
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

// The forms that report a failure in an ErrorInfo instead of throwing it:
// each runs the throwing form and keeps what its Error says, so the code
// and the message are exactly the exception's.
namespace corvane::v1 {

std::vector<std::uint8_t> base64Decode(ByteView text, Base64Alphabet alphabet, Base64Padding padding,
                                       ErrorInfo& error) noexcept {
    return corvane::detail::reportInto(error, [&] { return base64Decode(text, alphabet, padding); });
}

std::size_t base64Decode(ByteView text, std::span<std::uint8_t> out, Base64Alphabet alphabet, Base64Padding padding,
                         ErrorInfo& error) noexcept {
    return corvane::detail::reportInto(error, [&] { return base64Decode(text, out, alphabet, padding); });
}

}  // namespace corvane::v1
