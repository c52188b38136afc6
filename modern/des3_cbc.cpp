#include "des3_cbc.h"

#include <algorithm>
#include <cstring>

#include "modern_support.h"

namespace corvane::detail {

const char* des3KeyFault(v1::ByteView key) noexcept {
    if (key.empty()) return "the triple-DES key is empty";
    if (key.size() > kDes3Key) return "the triple-DES key is longer than 24 bytes";
    return nullptr;
}

void des3CheckKey(v1::ByteView key) {
    if (const char* fault = des3KeyFault(key)) throwError(ErrorCode::invalidInput, fault);
}

void des3KeyArea(v1::ByteView key, std::uint8_t area[kDes3Key]) noexcept {
    std::memset(area, 0, kDes3Key);
    if (!key.empty()) std::memcpy(area, key.data(), std::min(key.size(), kDes3Key));
}

void des3IvArea(const std::uint8_t keyArea[kDes3Key], const v1::ByteView* iv,
                std::uint8_t area[kDes3Block]) noexcept {
    if (iv == nullptr) {
        std::memcpy(area, keyArea, kDes3Block);
        return;
    }
    std::memset(area, 0, kDes3Block);
    if (!iv->empty()) std::memcpy(area, iv->data(), std::min(iv->size(), kDes3Block));
}

std::size_t des3PaddingLength(const std::uint8_t block[kDes3Block]) noexcept {
    const std::uint32_t pad = block[kDes3Block - 1];
    // bad collects, without branches on the bytes, a non-zero bit for a
    // padding length outside 1..8 or a padding byte that differs from it.
    std::uint32_t bad = ((pad - 1u) >> 3) & 0x1Fu;  // non-zero for 0 and 9..255
    for (std::uint32_t i = 0; i < kDes3Block; ++i) {
        const std::uint32_t position = static_cast<std::uint32_t>(kDes3Block) - i;  // 8 .. 1
        // outside is 1 when position > pad (the subtraction wraps), else 0.
        const std::uint32_t outside = (pad - position) >> 31;
        bad |= (0u - (outside ^ 1u)) & (block[i] ^ pad);
    }
    // keep is 1 when bad is zero (bad stays below 256).
    const std::uint32_t keep = ((bad - 1u) >> 8) & 1u;
    return pad & (0u - keep);
}

void des3PadBlock(const std::uint8_t* rest, std::size_t count, std::uint8_t block[kDes3Block]) noexcept {
    const auto pad = static_cast<std::uint8_t>(kDes3Block - count);
    if (count > 0) std::memcpy(block, rest, count);
    std::memset(block + count, pad, pad);
}

}  // namespace corvane::detail
