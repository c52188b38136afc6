// A small DER writer for the key structures. The output grows in a
// SecretBuffer, so every copy made on the way is wiped.
// Internal: not installed, not exported.
#ifndef CORVANE_MODERN_DER_WRITER_H
#define CORVANE_MODERN_DER_WRITER_H

#include <cstddef>
#include <cstdint>
#include <span>

#include "modern/support/secret_file.h"

namespace corvane::detail {

class DerWriter {
public:
    // One element: tag, minimal length, contents. Writers return false when
    // memory runs out (and stay false afterwards).
    bool element(std::uint8_t tag, std::span<const std::uint8_t> contents) noexcept;
    // A non-negative INTEGER from a big-endian magnitude (leading zero bytes
    // are dropped, a zero byte is put in front of a set top bit).
    bool unsignedInteger(std::span<const std::uint8_t> magnitude) noexcept;
    bool smallInteger(std::uint32_t value) noexcept;
    // Wraps everything written into out (a DerWriter of its own) as one
    // element of the tag: a SEQUENCE, an OCTET STRING, ...
    bool wrap(std::uint8_t tag, const DerWriter& inner) noexcept;
    // A BIT STRING with no unused bits around the inner writer's bytes.
    bool bitString(const DerWriter& inner) noexcept;
    bool raw(std::span<const std::uint8_t> bytes) noexcept;

    std::span<const std::uint8_t> bytes() const noexcept { return out_.bytes(); }
    bool ok() const noexcept { return ok_; }

private:
    bool header(std::uint8_t tag, std::size_t length) noexcept;

    SecretBuffer out_;
    bool ok_ = true;
};

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_DER_WRITER_H
