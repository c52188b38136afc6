// A strict reader of DER (the distinguished encoding of ASN.1), enough for
// the key structures: single-byte tags, definite minimal lengths, INTEGERs
// that are minimal and, where a key value is wanted, not negative.
// Internal: not installed, not exported.
#ifndef CORVANE_MODERN_DER_READER_H
#define CORVANE_MODERN_DER_READER_H

#include <Corvane/errors.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace corvane::detail {

// The tags the key structures use.
namespace der {
inline constexpr std::uint8_t kInteger = 0x02;
inline constexpr std::uint8_t kBitString = 0x03;
inline constexpr std::uint8_t kOctetString = 0x04;
inline constexpr std::uint8_t kNull = 0x05;
inline constexpr std::uint8_t kOid = 0x06;
inline constexpr std::uint8_t kSequence = 0x30;
inline constexpr std::uint8_t kSet = 0x31;
}  // namespace der

// Why a read stopped: keyUnreadable (the bytes end early, or another
// structure than expected), keyMalformed (the bytes break an encoding rule).
// The first fault is kept; detail is a static text.
struct DerFault {
    ErrorCode code = ErrorCode::ok;
    const char* detail = nullptr;

    bool set(ErrorCode c, const char* text) noexcept {
        if (code == ErrorCode::ok) {
            code = c;
            detail = text;
        }
        return false;
    }
    explicit operator bool() const noexcept { return code != ErrorCode::ok; }
};

// Reads the elements of one DER content (a whole object, or the contents of
// a SEQUENCE) in order. Every read returns false, and records the fault,
// when the next element is not what was asked for.
class DerReader {
public:
    DerReader(std::span<const std::uint8_t> bytes, DerFault& fault) noexcept : rest_(bytes), fault_(fault) {}

    bool atEnd() const noexcept { return rest_.empty(); }
    // The tag of the next element; 0 at the end.
    std::uint8_t nextTag() const noexcept { return rest_.empty() ? 0 : rest_[0]; }

    // The next element, which must have this tag: its contents.
    bool read(std::uint8_t tag, std::span<const std::uint8_t>& contents) noexcept;
    // The next element whatever its tag, with the whole encoding (tag and
    // length included) in encoding.
    bool readAny(std::uint8_t& tag, std::span<const std::uint8_t>& contents,
                 std::span<const std::uint8_t>& encoding) noexcept;
    // A SEQUENCE, whose contents the inner reader then walks.
    bool enter(DerReader& inner, std::uint8_t tag = der::kSequence) noexcept;
    // A non-negative INTEGER as its magnitude, big-endian without leading
    // zero bytes (empty for zero).
    bool readUnsigned(std::span<const std::uint8_t>& magnitude) noexcept;
    // A non-negative INTEGER that fits in 32 bits.
    bool readSmall(std::uint32_t& value) noexcept;
    bool readNull() noexcept;
    // Fails with keyMalformed when bytes remain.
    bool finish() noexcept;

    DerFault& fault() noexcept { return fault_; }

private:
    std::span<const std::uint8_t> rest_;
    DerFault& fault_;
};

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_DER_READER_H
