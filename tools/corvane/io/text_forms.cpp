#include "tools/corvane/io/text_forms.h"

#include <algorithm>

#include "tools/corvane/io/base64_stream.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

namespace {

// The bytes RawInputCheck judges an input by.
constexpr std::size_t kJudgedLength = 64;

bool inBase64Text(std::uint8_t b) {
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '+' ||
           b == '/' || b == '=' || b == ' ' || (b >= '\t' && b <= '\r');
}

// The length of the UTF-8 sequence that lead starts, 0 for a byte that
// starts none.
std::size_t sequenceLength(std::uint8_t lead) {
    return lead >= 0xC2 && lead <= 0xDF   ? 2
           : lead >= 0xE0 && lead <= 0xEF ? 3
           : lead >= 0xF0 && lead <= 0xF4 ? 4
                                          : 0;
}

// Whether the sequence is well-formed UTF-8 (no overlong form, no surrogate,
// nothing above U+10FFFF) and not a C1 control.
bool wellFormed(std::span<const std::uint8_t> s) {
    for (std::size_t i = 1; i < s.size(); ++i)
        if ((s[i] & 0xC0) != 0x80) return false;
    if (s.size() < 2) return true;
    if (s[0] == 0xC2 && s[1] < 0xA0) return false;  // U+0080 to U+009F
    if (s[0] == 0xE0 && s[1] < 0xA0) return false;
    if (s[0] == 0xED && s[1] > 0x9F) return false;
    if (s[0] == 0xF0 && s[1] < 0x90) return false;
    if (s[0] == 0xF4 && s[1] > 0x8F) return false;
    return true;
}

}  // namespace

bool looksLikeBase64Text(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), inBase64Text);
}

bool isDisplayableText(std::span<const std::uint8_t> bytes, bool more) {
    for (std::size_t i = 0; i < bytes.size();) {
        const std::uint8_t b = bytes[i];
        if (b < 0x80) {
            if (b < 0x20 ? b != '\t' && b != '\n' && b != '\r' : b == 0x7F) return false;
            ++i;
            continue;
        }
        const std::size_t length = sequenceLength(b);
        if (length == 0) return false;
        const std::size_t present = std::min(length, bytes.size() - i);
        if (!wellFormed(bytes.subspan(i, present)) || (present < length && !more)) return false;
        i += present;
    }
    return true;
}

RawInputCheck::RawInputCheck(std::size_t unit, ByteSink& out) : HeadCheck(kJudgedLength, out), unit_(unit) {}

void RawInputCheck::judge(std::span<const std::uint8_t> head, bool whole) {
    const bool text = whole ? head.size() % unit_ != 0 && base64Decode(head, Base64Family::standard)
                            : looksLikeBase64Text(head);
    if (text) failure("the input is Base64 text, and --raw reads bytes: leave out --raw");
}

}  // namespace corvane::tool
