// The triple-DES rules the modern layer's calls, streams and batches share:
// the key and IV areas as QVDes3 makes them, the refusal of keys the class
// would take silently, and the PKCS #7 padding added or checked in constant
// time. Internal: not installed, not exported.
#ifndef CORVANE_MODERN_DES3_CBC_H
#define CORVANE_MODERN_DES3_CBC_H

#include <Corvane/modern/des3.hpp>

#include <cstddef>
#include <cstdint>
#include <system_error>

namespace corvane::detail {

inline constexpr std::size_t kDes3Block = 8;
inline constexpr std::size_t kDes3Key = 24;

// Why the modern layer refuses a key QVDes3 would take, or null: an empty
// key (all zeros to the class) or one longer than 24 bytes (cut silently
// by the class) is a mistake the caller should hear of.
const char* des3KeyFault(v1::ByteView key) noexcept;
// Throws invalidInput with that reason when there is one.
void des3CheckKey(v1::ByteView key);

// The key area as QVDes3 makes it: the key's first 24 bytes, zero bytes after
// a shorter one.
void des3KeyArea(v1::ByteView key, std::uint8_t area[kDes3Key]) noexcept;
// The IV area: the IV's first 8 bytes, zero bytes after a shorter one; with
// no IV (null), the key area's first 8 bytes.
void des3IvArea(const std::uint8_t keyArea[kDes3Key], const v1::ByteView* iv,
                std::uint8_t area[kDes3Block]) noexcept;

// The PKCS #7 padding length (1 to 8) of a decrypted last block, or 0 when
// the block does not end in valid padding. Runs in the same time whatever
// the block holds.
std::size_t des3PaddingLength(const std::uint8_t block[kDes3Block]) noexcept;

// Fills the padded last block from the 0 to 7 bytes that remain.
void des3PadBlock(const std::uint8_t* rest, std::size_t count, std::uint8_t block[kDes3Block]) noexcept;

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_DES3_CBC_H
