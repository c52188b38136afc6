#include <Corvane/QVDes3.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "Classes/source/QVDes3_core.h"
#include "platform/CommonCrypto.h"
#include "platform/allocation.h"
#include "platform/entropy.h"
#include "platform/hex_digits.h"
#include "platform/secure_zero.h"

#ifdef CORVANE_TEST_SEAMS
#include <atomic>

#include "Classes/source/QVDes3_seams.h"
#endif

namespace corvane {

namespace {

constexpr std::size_t kKeyAreaSize = kCCKeySize3DES;
constexpr std::size_t kIvAreaSize = kCCBlockSize3DES;
constexpr std::size_t kBlockSize = kCCBlockSize3DES;
constexpr std::size_t kRandomKeyEntropyBytes = kKeyAreaSize / 2;  // two hex digits each

#ifdef CORVANE_TEST_SEAMS
std::atomic<test_seams::Des3Cipher> cipherStandIn{nullptr};
#endif

CCCryptorStatus runCipher(CCOperation op, const void* key, const void* iv, const void* dataIn,
                          std::size_t dataInLength, void* dataOut, std::size_t dataOutAvailable,
                          std::size_t* dataOutMoved) {
#ifdef CORVANE_TEST_SEAMS
    if (auto standIn = cipherStandIn.load(std::memory_order_relaxed))
        return standIn(op, kCCAlgorithm3DES, kCCOptionPKCS7Padding, key, kKeyAreaSize, iv, dataIn,
                       dataInLength, dataOut, dataOutAvailable, dataOutMoved);
#endif
    return CCCrypt(op, kCCAlgorithm3DES, kCCOptionPKCS7Padding, key, kKeyAreaSize, iv, dataIn,
                   dataInLength, dataOut, dataOutAvailable, dataOutMoved);
}

// Wipes a stack area that held key material when the scope ends, on every path.
struct WipeOnExit {
    void* area;
    std::size_t size;
    ~WipeOnExit() { secure_zero(area, size); }
};

// The class's result: a data object that takes over the buffer the cipher
// wrote, so that the output is not copied once more.
class CipherOutput final : public NSData {
public:
    explicit CipherOutput(std::vector<std::uint8_t>&& bytes) noexcept { storage_ = std::move(bytes); }
};

// Wipes a buffer that may hold plaintext and releases it.
void discard(std::vector<std::uint8_t>& bytes) noexcept {
    secure_zero(bytes.data(), bytes.size());
    bytes = {};
}

Ref<NSData> failWith(std::int32_t code, std::int32_t* error) {
    if (error != nullptr) *error = code;
    return nullptr;
}

// Steps 2 to 8 of the general method, on a byte range that is already known
// to come from a non-nil data object, under a non-nil key object.
Ref<NSData> des3Bytes(const void* bytes, std::size_t length, const NSData* key, const NSData* iv,
                      std::uint32_t operation, std::int32_t* error) {
    std::vector<std::uint8_t> output;
    const des3_core::Bytes keyBytes{key->bytes(), key->length()};
    const des3_core::Bytes ivBytes{iv != nullptr ? iv->bytes() : nullptr, iv != nullptr ? iv->length() : 0};
    const std::int32_t code = des3_core::run(bytes, length, keyBytes, iv != nullptr ? &ivBytes : nullptr,
                                             operation, output);
    if (code != 0) return failWith(code, error);
    // A nil result leaves output with the caller's bytes, wiped below.
    Ref<NSData> result = make_ref<CipherOutput>(std::move(output));
    if (!result) {
        discard(output);
        NSLog("create NSData for output failed!");
        return failWith(-3, error);
    }
    if (error != nullptr) *error = 0;
    return result;
}

}  // namespace

namespace des3_core {

std::int32_t run(const void* bytes, std::size_t length, Bytes key, const Bytes* iv, std::uint32_t operation,
                 std::vector<std::uint8_t>& out) noexcept {
    out.clear();
    // Every size below stays under 2^31, as peers that count in 32-bit
    // signed integers require; the output size would otherwise wrap.
    if (length > QVDes3::kMaxDataLength) {
        NSLog("input too long: %zu bytes, at most %zu!", length, QVDes3::kMaxDataLength);
        return -2;
    }

    unsigned char keyArea[kKeyAreaSize] = {};
    unsigned char ivArea[kIvAreaSize] = {};
    WipeOnExit wipeKey{keyArea, sizeof keyArea};
    WipeOnExit wipeIv{ivArea, sizeof ivArea};
    if (key.length > 0) std::memcpy(keyArea, key.data, std::min(key.length, kKeyAreaSize));
    if (iv == nullptr)
        std::memcpy(ivArea, keyArea, kIvAreaSize);
    else if (iv->length > 0)
        std::memcpy(ivArea, iv->data, std::min(iv->length, kIvAreaSize));

    // The next multiple of the block size strictly above the length: the
    // exact size of a padded encryption, and more than a decryption yields.
    // The cipher writes straight into the buffer the result keeps.
    const std::size_t room = length - length % kBlockSize + kBlockSize;
    if (!resizeBytes(out, room)) {
        NSLog("create buff for encrypt failed!");
        return -3;
    }

    std::size_t moved = 0;
    CCCryptorStatus status = runCipher(operation, keyArea, ivArea, bytes, length, out.data(), room, &moved);
    if (status != kCCSuccess) {
        discard(out);
        NSLog("CCCrypt failed,CCCryptorStatus %d!", static_cast<int>(status));
        return operation == kCCEncrypt ? -4 : -5;
    }
    // Shortening keeps the buffer: nothing is moved or copied.
    out.resize(std::min(moved, room));
    return 0;
}

}  // namespace des3_core

QVDes3::~QVDes3() = default;

Ref<NSData> QVDes3::createDes3Data(const NSData* data, const NSData* key, const NSData* iv,
                                   std::uint32_t operation, std::int32_t* error) {
    if (data == nullptr || key == nullptr) {
        NSLog("input or key nil");
        return failWith(-2, error);
    }
    return des3Bytes(data->bytes(), data->length(), key, iv, operation, error);
}

Ref<NSData> QVDes3::createDes3EncryptData(const NSData* data, const NSData* key, const NSData* iv,
                                          std::int32_t* error) {
    return QVDes3::createDes3Data(data, key, iv, kCCEncrypt, error);
}

Ref<NSData> QVDes3::createDes3DecryptData(const NSData* data, const NSData* key, const NSData* iv,
                                          std::int32_t* error) {
    return QVDes3::createDes3Data(data, key, iv, kCCDecrypt, error);
}

Ref<NSData> QVDes3::createRandomDes3Key() {
    unsigned char entropy[kRandomKeyEntropyBytes];
    char text[kKeyAreaSize];
    WipeOnExit wipeEntropy{entropy, sizeof entropy};
    WipeOnExit wipeText{text, sizeof text};
    if (!os_entropy(entropy, sizeof entropy)) {
        NSLog("create random key failed: no entropy from the system!");
        return nullptr;
    }
    // Two upper-case digits a byte fill the 24-byte key exactly.
    static_assert(sizeof text == 2 * sizeof entropy);
    hex_digits::encode(entropy, sizeof entropy, text, true);
    Ref<NSData> key = make_ref<NSData>(text, sizeof text);
    if (!key) NSLog("create NSData for output failed!");
    return key;
}

}  // namespace corvane

#ifdef CORVANE_TEST_SEAMS
namespace corvane::test_seams {

Des3Cipher setDes3Cipher(Des3Cipher cipher) { return cipherStandIn.exchange(cipher); }

Ref<NSData> des3WithLength(const void* bytes, std::size_t length, const NSData* key,
                           const NSData* iv, std::uint32_t operation, std::int32_t* error) {
    return des3Bytes(bytes, length, key, iv, operation, error);
}

}  // namespace corvane::test_seams
#endif
