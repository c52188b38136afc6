// The PKCS #7 padding check of a decrypted last block, for every CBC
// decryption of the library that must not say (by its time or its path)
// more than whether the padding is valid.
// Internal: not installed, not exported.
#ifndef CORVANE_MODERN_PKCS7_PADDING_H
#define CORVANE_MODERN_PKCS7_PADDING_H

#include <cstddef>
#include <cstdint>

namespace corvane::detail {

// The padding length (1 to size) of the last block, size bytes (8 or 16),
// or 0 when it does not end in valid padding. Runs the same instructions
// over the same bytes whatever the block holds.
inline std::size_t pkcs7PaddingLength(const std::uint8_t* block, std::size_t size) noexcept {
    const std::uint32_t pad = block[size - 1];
    const auto n = static_cast<std::uint32_t>(size);
    // bad collects, without branches on the bytes, a non-zero bit for a
    // padding length of 0 or above size (either subtraction wraps) or a
    // padding byte that differs from it.
    std::uint32_t bad = ((pad - 1u) >> 8) | ((n - pad) >> 8);
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t position = n - i;  // n .. 1
        // outside is 1 when position > pad (the subtraction wraps), else 0.
        const std::uint32_t outside = (pad - position) >> 31;
        bad |= (0u - (outside ^ 1u)) & (block[i] ^ pad);
    }
    // keep is 1 when bad is zero.
    const std::uint32_t keep = ((bad | (0u - bad)) >> 31) ^ 1u;
    return pad & (0u - keep);
}

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_PKCS7_PADDING_H
