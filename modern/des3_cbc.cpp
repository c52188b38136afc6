#include "des3_cbc.h"

#include <algorithm>
#include <cstring>

#include "CommonCrypto.h"
#include "des/des3_engine.h"
#include "modern_support.h"
#include "pkcs7_padding.h"

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

std::error_code des3Blocks(bool encrypt, const std::uint8_t key[kDes3Key], std::uint8_t chain[kDes3Block],
                           const std::uint8_t* in, std::size_t length, std::uint8_t* out) noexcept {
    if (length == 0) return {};
    // Decryption chains to the last ciphertext block of the input: taken
    // before the call, which writes the output.
    std::uint8_t next[kDes3Block];
    if (!encrypt) std::memcpy(next, in + length - kDes3Block, kDes3Block);
    std::size_t moved = 0;
    CCCryptorStatus status = CCCrypt(encrypt ? kCCEncrypt : kCCDecrypt, kCCAlgorithm3DES, 0, key, kDes3Key,
                                     chain, in, length, out, length, &moved);
    if (status == kCCMemoryFailure) return make_error_code(ErrorCode::outOfMemory);
    if (status != kCCSuccess || moved != length)
        return make_error_code(encrypt ? ErrorCode::encryptionRefused : ErrorCode::decryptionRefused);
    std::memcpy(chain, encrypt ? out + length - kDes3Block : next, kDes3Block);
    return {};
}

void des3DecryptAfter(const std::uint8_t key[kDes3Key], std::uint8_t chain[kDes3Block],
                      const std::uint8_t head[kDes3Block], const std::uint8_t* in, std::size_t length,
                      std::uint8_t* out) noexcept {
    std::uint8_t next[kDes3Block];
    std::memcpy(next, length == kDes3Block ? head : in + length - 2 * kDes3Block, kDes3Block);
    des::des3_decrypt_after(des::des_default_path(), key, chain, head, in, out, length / kDes3Block);
    std::memcpy(chain, next, kDes3Block);
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
