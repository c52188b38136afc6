#include <Corvane/modern/des3.hpp>
#include "modern/des3/cbc_rules.h"

#include <algorithm>
#include <cstring>

#include "modern/support/failures.h"
#include "modern/support/pkcs7_padding.h"

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
    return pkcs7PaddingLength(block, kDes3Block);
}

void des3PadBlock(const std::uint8_t* rest, std::size_t count, std::uint8_t block[kDes3Block]) noexcept {
    const auto pad = static_cast<std::uint8_t>(kDes3Block - count);
    if (count > 0) std::memcpy(block, rest, count);
    std::memset(block + count, pad, pad);
}

}  // namespace corvane::detail
