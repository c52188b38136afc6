#include <Corvane/modern/coding.hpp>
#include "modern/coding/base64_fault.h"

#include <algorithm>

#include "Classes/source/QVGTMBase64_PrivateMethods.h"
#include "Classes/source/QVGTMBase64_Tables.h"

namespace corvane::detail {

namespace {

bool isSpace(unsigned char c) noexcept {
    return std::find(base64_tables::kSpaceBytes.begin(), base64_tables::kSpaceBytes.end(), c) !=
           base64_tables::kSpaceBytes.end();
}

constexpr const char* kNul = "a NUL byte, which Base64 text never holds";

std::string at(std::uint64_t offset, const std::string& why) {
    return "the Base64 text breaks the rules at offset " + std::to_string(offset) + ": " + why;
}

}  // namespace

std::string base64FaultDetail(v1::ByteView text, v1::Base64Alphabet alphabet, v1::Base64Padding padding) {
    const auto* table = reinterpret_cast<const unsigned char*>(
        QVGTMBase64PrivateMethods::decodeChars(alphabet == v1::Base64Alphabet::webSafe));
    const std::uint8_t* p = text.data();
    const std::size_t size = text.size();
    int state = 0;            // characters of the current group so far
    std::size_t last = size;  // offset of the last alphabet character
    unsigned lastValue = 0;
    std::size_t i = 0;
    for (; i < size; i++) {
        const unsigned char c = p[i];
        if (c == 0) return at(i, kNul);
        if (isSpace(c)) continue;
        if (c == base64_tables::kBase64PaddingChar) break;
        const unsigned v = table[c];
        if (v == base64_tables::kBase64InvalidChar)
            return at(i, "the character is not in the " +
                             std::string(alphabet == v1::Base64Alphabet::webSafe ? "web-safe " : "") +
                             "Base64 alphabet");
        last = i;
        lastValue = v;
        state = (state + 1) % 4;
    }
    const bool padded = i < size && p[i] == base64_tables::kBase64PaddingChar;
    if (padded) {
        if (state < 2) return at(i, "\"=\" may stand only third or fourth in a group of four");
        if (state == 2) {
            std::size_t k = i + 1;
            while (k < size && isSpace(p[k])) k++;
            if (k == size || p[k] != base64_tables::kBase64PaddingChar)
                return at(k, "a second \"=\" must complete the group");
            i = k;
        }
        for (std::size_t k = i + 1; k < size; k++) {
            if (p[k] == 0) return at(k, kNul);
            if (!isSpace(p[k])) return at(k, "only whitespace may follow the padding");
        }
    } else if (last == size) {
        return at(i, "the text holds no Base64 characters");
    } else if (state == 1 || (padding == v1::Base64Padding::padded && state != 0)) {
        return at(i, state == 1 ? "the text ends one character into a group of four"
                                : "the text ends inside a group of four without its padding");
    }
    // The unused low bits of a group's last character must be zero.
    const unsigned unusedBits = state == 2 ? 0x0Fu : state == 3 ? 0x03u : 0u;
    if ((lastValue & unusedBits) != 0)
        return at(last, "the unused low bits of the last character are not zero");
    return at(i, "the text does not decode");
}

std::string base64NulDetail(std::uint64_t offset) { return at(offset, kNul); }

}  // namespace corvane::detail
