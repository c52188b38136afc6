#include "modern/support/secret_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/secure_zero.h"

namespace corvane::detail {

SecretBuffer::~SecretBuffer() {
    secure_zero(data_, capacity_);
    std::free(data_);
}

bool SecretBuffer::append(const void* bytes, std::size_t length) noexcept {
    if (length == 0) return true;
    if (length > capacity_ - size_) {
        std::size_t wanted = size_ + length;
        std::size_t capacity = capacity_ < 4096 ? 4096 : capacity_;
        while (capacity < wanted) capacity *= 2;
        auto* grown = static_cast<std::uint8_t*>(std::malloc(capacity));
        if (grown == nullptr) return false;
        if (size_ != 0) std::memcpy(grown, data_, size_);
        secure_zero(data_, capacity_);
        std::free(data_);
        data_ = grown;
        capacity_ = capacity;
    }
    std::memcpy(data_ + size_, bytes, length);
    size_ += length;
    return true;
}

bool SecretBuffer::resize(std::size_t length) noexcept {
    if (length <= size_) {
        secure_zero(data_ + length, size_ - length);
        size_ = length;
        return true;
    }
    std::size_t added = length - size_;
    static constexpr std::uint8_t kZeros[256] = {};
    while (added > 0) {
        std::size_t step = added < sizeof kZeros ? added : sizeof kZeros;
        if (!append(kZeros, step)) return false;
        added -= step;
    }
    return true;
}

std::error_code readSecretFile(const char* path, SecretBuffer& out) noexcept {
    if (path == nullptr) return std::make_error_code(std::errc::invalid_argument);
    errno = 0;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return {errno != 0 ? errno : EIO, std::generic_category()};
    // Unbuffered, so that no stdio buffer keeps a copy of the key.
    std::setvbuf(file, nullptr, _IONBF, 0);
    unsigned char chunk[4096];
    std::error_code result;
    for (;;) {
        std::size_t n = std::fread(chunk, 1, sizeof chunk, file);
        if (n > 0 && (out.bytes().size() + n > kMaxKeyFileSize || !out.append(chunk, n))) {
            result = out.bytes().size() + n > kMaxKeyFileSize
                         ? std::make_error_code(std::errc::file_too_large)
                         : std::make_error_code(std::errc::not_enough_memory);
            break;
        }
        if (n < sizeof chunk) {
            if (std::ferror(file)) result = {errno != 0 ? errno : EIO, std::generic_category()};
            break;
        }
    }
    secure_zero(chunk, sizeof chunk);
    std::fclose(file);
    return result;
}

}  // namespace corvane::detail
