// Reading a key file without leaving copies of it in freed memory.
// Internal: not installed, not exported.
#ifndef CORVANE_MODERN_SECRET_FILE_H
#define CORVANE_MODERN_SECRET_FILE_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <system_error>

namespace corvane::detail {

// A growable heap buffer for secret bytes. Growing copies into a new block
// and wipes the old one before freeing it; the destructor wipes the rest.
class SecretBuffer {
public:
    SecretBuffer() noexcept = default;
    ~SecretBuffer();
    SecretBuffer(const SecretBuffer&) = delete;
    SecretBuffer& operator=(const SecretBuffer&) = delete;

    // Appends length bytes; false (nothing appended) when memory runs out.
    bool append(const void* bytes, std::size_t length) noexcept;
    std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }
    std::span<std::uint8_t> mutableBytes() noexcept { return {data_, size_}; }
    // Makes the size length: new bytes are zero, dropped ones are wiped.
    // false when memory runs out.
    bool resize(std::size_t length) noexcept;

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Key files larger than this are refused (std::errc::file_too_large).
inline constexpr std::size_t kMaxKeyFileSize = 1 << 20;

// Reads the whole file at path into out. On failure: the errno of the failed
// call in std::generic_category(), or std::errc::not_enough_memory.
std::error_code readSecretFile(const char* path, SecretBuffer& out) noexcept;

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_SECRET_FILE_H
