// The modern layer's triple DES: the allocating forms run QVDes3's own work
// (QVDes3_core.h) on the caller's bytes and return the buffer the cipher
// wrote; the forms that write into the caller's memory run the cipher
// directly (cbc_rules.h), without the class's length limit.
#include <Corvane/modern/des3.hpp>
#include <Corvane/QVDes3.h>

#include <cstdint>
#include <utility>

#include "Classes/source/QVDes3_core.h"
#include "modern/des3/cbc_rules.h"
#include "modern/support/failures.h"
#include "platform/CommonCrypto.h"
#include "platform/entropy.h"
#include "platform/log_suppression.h"
#include "platform/secure_zero.h"

namespace corvane::v1 {

namespace {

// The class's random key, wiped before it is released. The object has this
// one owner, so the wipe reaches no other user.
class WipedData {
public:
    explicit WipedData(Ref<NSData> data) noexcept : data_(std::move(data)) {}
    ~WipedData() {
        if (data_) secure_zero(const_cast<void*>(data_->bytes()), data_->length());
    }
    WipedData(const WipedData&) = delete;
    WipedData& operator=(const WipedData&) = delete;

    const NSData* get() const noexcept { return data_.get(); }
    explicit operator bool() const noexcept { return static_cast<bool>(data_); }

private:
    Ref<NSData> data_;
};

std::vector<std::uint8_t> runDes3(ByteView data, ByteView key, const ByteView* iv, CCOperation operation,
                                  std::error_code& error) noexcept {
    error.clear();
    if (corvane::detail::des3KeyFault(key) != nullptr) {
        error = ErrorCode::invalidInput;
        return {};
    }
    // Failures reach the caller in error alone: the class's log lines are
    // for its legacy callers.
    ScopedLogSuppression quiet;
    // The class's own work on the caller's bytes: the cipher writes into the
    // vector returned, with no data objects and no copies in between.
    const des3_core::Bytes keyBytes{key.data(), key.size()};
    const des3_core::Bytes ivBytes{iv != nullptr ? iv->data() : nullptr, iv != nullptr ? iv->size() : 0};
    std::vector<std::uint8_t> output;
    const std::int32_t code = des3_core::run(corvane::detail::bytesOrEmpty(data), data.size(), keyBytes,
                                             iv != nullptr ? &ivBytes : nullptr, operation, output);
    if (code != 0) error = static_cast<ErrorCode>(code);
    return output;
}

std::vector<std::uint8_t> runDes3OrThrow(ByteView data, ByteView key, const ByteView* iv,
                                         CCOperation operation) {
    corvane::detail::des3CheckKey(key);
    std::error_code error;
    std::vector<std::uint8_t> result = runDes3(data, key, iv, operation, error);
    corvane::detail::throwIfError(error);
    return result;
}

}  // namespace

std::vector<std::uint8_t> des3Encrypt(ByteView data, ByteView key, ByteView iv) {
    return runDes3OrThrow(data, key, &iv, kCCEncrypt);
}

std::vector<std::uint8_t> des3Encrypt(ByteView data, ByteView key) {
    return runDes3OrThrow(data, key, nullptr, kCCEncrypt);
}

std::vector<std::uint8_t> des3Decrypt(ByteView data, ByteView key, ByteView iv) {
    return runDes3OrThrow(data, key, &iv, kCCDecrypt);
}

std::vector<std::uint8_t> des3Decrypt(ByteView data, ByteView key) {
    return runDes3OrThrow(data, key, nullptr, kCCDecrypt);
}

std::vector<std::uint8_t> des3Decrypt(ByteView data, ByteView key, ByteView iv,
                                      std::error_code& error) noexcept {
    return runDes3(data, key, &iv, kCCDecrypt, error);
}

std::vector<std::uint8_t> des3Decrypt(ByteView data, ByteView key, std::error_code& error) noexcept {
    return runDes3(data, key, nullptr, kCCDecrypt, error);
}

// ---- into the caller's memory ------------------------------------------------

namespace {

// The key and chaining areas of one call, wiped when it ends.
struct CallKeys {
    std::uint8_t key[corvane::detail::kDes3Key];
    std::uint8_t chain[corvane::detail::kDes3Block];
    CallKeys(ByteView keyBytes, const ByteView* iv) noexcept {
        corvane::detail::des3KeyArea(keyBytes, key);
        corvane::detail::des3IvArea(key, iv, chain);
    }
    ~CallKeys() {
        secure_zero(key, sizeof key);
        secure_zero(chain, sizeof chain);
    }
    CallKeys(const CallKeys&) = delete;
    CallKeys& operator=(const CallKeys&) = delete;
};

// One call of the cipher with its padding option, straight into out.
CCCryptorStatus cipherInto(CCOperation operation, const CallKeys& keys, ByteView data, std::span<std::uint8_t> out,
                           std::size_t* moved) noexcept {
    return CCCrypt(operation, kCCAlgorithm3DES, kCCOptionPKCS7Padding, keys.key, sizeof keys.key, keys.chain,
                   corvane::detail::bytesOrEmpty(data), data.size(), out.data(), out.size(), moved);
}

std::size_t encryptInto(ByteView data, ByteView key, const ByteView* iv, std::span<std::uint8_t> out) {
    const std::size_t size = des3EncryptedSize(data.size());
    corvane::detail::des3CheckKey(key);
    corvane::detail::checkRoom(out.size(), size);
    CallKeys keys(key, iv);
    std::size_t moved = 0;
    const CCCryptorStatus status = cipherInto(kCCEncrypt, keys, data, out, &moved);
    if (status == kCCMemoryFailure) corvane::detail::throwError(make_error_code(ErrorCode::outOfMemory));
    if (status != kCCSuccess) corvane::detail::throwError(make_error_code(ErrorCode::encryptionRefused));
    return moved;
}

std::size_t decryptInto(ByteView data, ByteView key, const ByteView* iv, std::span<std::uint8_t> out,
                        std::error_code& error) noexcept {
    error.clear();
    const std::size_t size = data.size();
    if (corvane::detail::des3KeyFault(key) != nullptr || out.size() < des3DecryptedCapacity(size)) {
        error = ErrorCode::invalidInput;
        return 0;
    }
    if (size == 0 || size % corvane::detail::kDes3Block != 0) {
        error = ErrorCode::decryptionRefused;
        return 0;
    }
    CallKeys keys(key, iv);
    // The cipher checks the padding in constant time, leaves the bytes after
    // the plaintext as they were and wipes out when it refuses.
    std::size_t moved = 0;
    if (cipherInto(kCCDecrypt, keys, data, out, &moved) != kCCSuccess) {
        error = ErrorCode::decryptionRefused;
        secure_zero(out.data(), size);
        return 0;
    }
    return moved;
}

std::size_t decryptIntoOrThrow(ByteView data, ByteView key, const ByteView* iv, std::span<std::uint8_t> out) {
    corvane::detail::des3CheckKey(key);
    corvane::detail::checkRoom(out.size(), des3DecryptedCapacity(data.size()));
    std::error_code error;
    std::size_t size = decryptInto(data, key, iv, out, error);
    corvane::detail::throwIfError(error);
    return size;
}

}  // namespace

std::size_t des3EncryptedSize(std::size_t dataSize) noexcept {
    return dataSize / corvane::detail::kDes3Block * corvane::detail::kDes3Block + corvane::detail::kDes3Block;
}

std::size_t des3DecryptedCapacity(std::size_t dataSize) noexcept { return dataSize; }

std::size_t des3Encrypt(ByteView data, ByteView key, ByteView iv, std::span<std::uint8_t> out) {
    return encryptInto(data, key, &iv, out);
}

std::size_t des3Decrypt(ByteView data, ByteView key, ByteView iv, std::span<std::uint8_t> out) {
    return decryptIntoOrThrow(data, key, &iv, out);
}

std::size_t des3Decrypt(ByteView data, ByteView key, ByteView iv, std::span<std::uint8_t> out,
                        std::error_code& error) noexcept {
    return decryptInto(data, key, &iv, out, error);
}

std::vector<std::uint8_t> des3RandomKey(Des3KeyForm form) {
    if (form == Des3KeyForm::hexText) return des3RandomKey();
    std::vector<std::uint8_t> key(24);
    if (!os_entropy(key.data(), key.size())) {
        secure_zero(key.data(), key.size());
        corvane::detail::throwError(std::make_error_code(std::errc::io_error));
    }
    return key;
}

std::vector<std::uint8_t> des3RandomKey() {
    WipedData key(QVDes3::createRandomDes3Key());
    // The class gives nil when the entropy source fails (or memory runs out).
    if (!key) corvane::detail::throwError(std::make_error_code(std::errc::io_error));
    auto bytes = key.get()->span();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace corvane::v1

// The forms that report a failure in an ErrorInfo instead of throwing it:
// each runs the throwing form and keeps what its Error says, so the code
// and the message are exactly the exception's.
namespace corvane::v1 {

std::vector<std::uint8_t> des3Decrypt(ByteView data, ByteView key, ByteView iv, ErrorInfo& error) noexcept {
    return corvane::detail::reportInto(error, [&] { return des3Decrypt(data, key, iv); });
}

std::vector<std::uint8_t> des3Decrypt(ByteView data, ByteView key, ErrorInfo& error) noexcept {
    return corvane::detail::reportInto(error, [&] { return des3Decrypt(data, key); });
}

std::size_t des3Decrypt(ByteView data, ByteView key, ByteView iv, std::span<std::uint8_t> out,
                        ErrorInfo& error) noexcept {
    return corvane::detail::reportInto(error, [&] { return des3Decrypt(data, key, iv, out); });
}

}  // namespace corvane::v1
