// The work of QVDes3's general method on a byte range, with the output in a
// byte vector that the caller takes over: the class wraps it in the data
// object it returns, and the modern layer returns it as it is, so neither
// copies the output. Internal: not installed, nothing here is exported.
#ifndef CORVANE_QVDES3_CORE_H
#define CORVANE_QVDES3_CORE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane::des3_core {

// A key or IV as the class reads it from its data object.
struct Bytes {
    const void* data;
    std::size_t length;
};

// Encrypts or decrypts length bytes under key and iv (null: the key's first
// 8 bytes) with the class's rules, statuses and log lines, into out, which
// is replaced. Returns 0, or the class's error code (-2, -3, -4, -5) with
// out empty; output that held plaintext is wiped before it is released.
std::int32_t run(const void* bytes, std::size_t length, Bytes key, const Bytes* iv, std::uint32_t operation,
                 std::vector<std::uint8_t>& out) noexcept;

}  // namespace corvane::des3_core

#endif  // CORVANE_QVDES3_CORE_H
