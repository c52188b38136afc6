// The modern layer's triple DES: QVDes3 over data objects that this file
// makes from the caller's bytes and wipes again.
#include <Corvane/QVDes3.h>

#include <new>
#include <optional>

#include "log_suppression.h"
#include "modern_support.h"
#include "secure_zero.h"

namespace corvane::v1 {

namespace {

// A data object holding a copy of the bytes (a key, an IV, a plaintext), or
// the class's result (possibly a plaintext); wiped before it is released.
// Each object here has this one owner, so the wipe reaches no other user.
class WipedData {
public:
    explicit WipedData(ByteView bytes) : data_(make_ref<NSMutableData>(bytes.data(), bytes.size())) {}
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

// The key QVDes3 uses: 24 bytes, a shorter one extended with zeros. The
// class takes any length; here an empty key (all zeros) or a longer one (cut
// silently) is a mistake the caller should hear of.
constexpr std::size_t kMaxKeySize = 24;

const char* keyFault(ByteView key) noexcept {
    if (key.empty()) return "the triple-DES key is empty";
    if (key.size() > kMaxKeySize) return "the triple-DES key is longer than 24 bytes";
    return nullptr;
}

std::vector<std::uint8_t> runDes3(ByteView data, ByteView key, const ByteView* iv, CCOperation operation,
                                  std::error_code& error) noexcept {
    error.clear();
    if (keyFault(key) != nullptr) {
        error = ErrorCode::invalidInput;
        return {};
    }
    // Failures reach the caller in error alone: the class's log lines are
    // for its legacy callers.
    ScopedLogSuppression quiet;
    try {
        WipedData input(data);
        WipedData keyData(key);
        std::optional<WipedData> ivData;
        if (iv != nullptr) ivData.emplace(*iv);
        if (!input || !keyData || (ivData && !*ivData)) {
            error = ErrorCode::outOfMemory;
            return {};
        }
        std::int32_t code = 0;
        WipedData output(QVDes3::createDes3Data(input.get(), keyData.get(), ivData ? ivData->get() : nullptr,
                                                operation, &code));
        if (!output) {
            error = static_cast<ErrorCode>(code);
            return {};
        }
        auto bytes = output.get()->span();
        return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    } catch (const std::bad_alloc&) {
        error = ErrorCode::outOfMemory;
        return {};
    }
}

std::vector<std::uint8_t> runDes3OrThrow(ByteView data, ByteView key, const ByteView* iv,
                                         CCOperation operation) {
    if (const char* fault = keyFault(key)) corvane::detail::throwError(ErrorCode::invalidInput, fault);
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

std::vector<std::uint8_t> des3RandomKey() {
    WipedData key(QVDes3::createRandomDes3Key());
    // The class gives nil when the entropy source fails (or memory runs out).
    if (!key) corvane::detail::throwError(std::make_error_code(std::errc::io_error));
    auto bytes = key.get()->span();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace corvane::v1
