// A plain, one-character-at-a-time Base64 decoder kept as an oracle for the
// library's decoder (which takes a faster path through whole groups). It
// follows the decoding rules literally and reports a destination that is
// too short instead of raising.
#ifndef CORVANE_TEST_BASE64_REFERENCE_H
#define CORVANE_TEST_BASE64_REFERENCE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace corvane::test {

struct Base64ReferenceOutcome {
    std::size_t decoded = 0;      // bytes decoded; 0 means failure
    bool destinationTooShort = false;  // a room check failed (the library raises)
};

inline bool base64ReferenceIsSpace(std::uint8_t c) {
    return c == 0x09 || c == 0x0A || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x20 || c == 0xA0 ||
           c == 0xFF;
}

// Decodes src into dest (which the caller zero-fills) with the 256-entry
// table; mirrors the byte-level decoder's contract.
inline Base64ReferenceOutcome base64ReferenceDecode(const std::uint8_t* src, std::size_t srcLen,
                                                    std::uint8_t* dest, std::size_t destLen,
                                                    const char* table, bool requirePadding) {
    Base64ReferenceOutcome out;
    if (srcLen == 0 || destLen == 0 || src == nullptr || dest == nullptr) return out;
    std::size_t pos = 0, i = 0;
    int state = 0;
    bool pad = false;
    while (pos < srcLen) {
        std::uint8_t c = src[pos++];
        if (c == 0) break;
        if (base64ReferenceIsSpace(c)) continue;
        if (c == '=') {
            pad = true;
            break;
        }
        int v = static_cast<std::uint8_t>(table[c]);
        if (v == 99) return out;
        if (state == 0) {
            if (!(i < destLen)) return {0, true};
            dest[i] = static_cast<std::uint8_t>(v << 2);
        } else if (state == 1) {
            if (!(i + 1 < destLen)) return {0, true};
            dest[i] = static_cast<std::uint8_t>(dest[i] | (v >> 4));
            dest[i + 1] = static_cast<std::uint8_t>((v & 0x0F) << 4);
            i++;
        } else if (state == 2) {
            if (!(i + 1 < destLen)) return {0, true};
            dest[i] = static_cast<std::uint8_t>(dest[i] | (v >> 2));
            dest[i + 1] = static_cast<std::uint8_t>((v & 0x03) << 6);
            i++;
        } else {
            if (!(i < destLen)) return {0, true};
            dest[i] = static_cast<std::uint8_t>(dest[i] | v);
            i++;
        }
        state = (state + 1) % 4;
    }
    if (pad) {
        if (state == 0 || state == 1) return out;
        if (pos == srcLen) {
            if (state == 2) return out;
        } else {
            if (state == 2) {
                while (pos < srcLen && base64ReferenceIsSpace(src[pos])) pos++;
                if (pos == srcLen || src[pos] != '=') return out;
                pos++;
            }
            while (pos < srcLen) {
                std::uint8_t c = src[pos++];
                if (c == 0) break;
                if (!base64ReferenceIsSpace(c)) return out;
            }
        }
    } else if (requirePadding) {
        if (state != 0) return out;
    } else if (state == 1) {
        return out;
    }
    if (i < destLen && dest[i] != 0) return out;
    out.decoded = i;
    return out;
}

// The data-level form: nullopt for failure, else exactly the decoded bytes.
inline std::optional<std::vector<std::uint8_t>> base64ReferenceDecode(
    const std::vector<std::uint8_t>& text, const char* table, bool requirePadding) {
    std::vector<std::uint8_t> dest((text.size() + 3) / 4 * 3);
    Base64ReferenceOutcome r =
        base64ReferenceDecode(text.data(), text.size(), dest.data(), dest.size(), table, requirePadding);
    if (r.decoded == 0) return std::nullopt;
    dest.resize(r.decoded);
    return dest;
}

}  // namespace corvane::test

#endif
