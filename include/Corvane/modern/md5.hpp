// MD5 in the modern layer (part of <Corvane/corvane.hpp>): the Md5 object
// for messages in pieces and md5() for one call. It does not include the
// legacy <Corvane/md5.h>, whose MD5_CTX clashes with OpenSSL's.
#ifndef CORVANE_MODERN_MD5_HPP
#define CORVANE_MODERN_MD5_HPP

#include <Corvane/CorvaneCxx20.h>

#include <array>
#include <cstdint>

#include <Corvane/CorvaneExport.h>
#include <Corvane/modern/bytes.hpp>

namespace corvane::v1 {

// MD5 (RFC 1321), over QvMD5Init / QvMD5Update / QvMD5Final. Kept for
// interoperability; broken for collision resistance.

class CORVANE_EXPORT Md5 {
public:
    using Digest = std::array<std::uint8_t, 16>;

    Md5() noexcept;
    Md5(const Md5& other) noexcept;
    Md5& operator=(const Md5& other) noexcept;
    ~Md5();  // wipes the context

    // Hashes the bytes; any number of calls, of any lengths.
    Md5& update(ByteView bytes) noexcept;
    // The digest of everything hashed since construction or the last
    // finish/reset; the object then starts over with an empty message.
    Digest finish() noexcept;
    // The digest of everything hashed so far, leaving the object as it is
    // (more bytes may follow), as a hashlib object's digest() does.
    Digest digest() const noexcept;
    // Drops what was hashed so far.
    void reset() noexcept;

private:
    // The legacy context record (88 bytes, 32-bit aligned), kept opaque so
    // that this header needs no MD5_CTX.
    alignas(std::uint32_t) unsigned char context_[88];
};

// The digest of the bytes in one call.
CORVANE_EXPORT Md5::Digest md5(ByteView bytes) noexcept;

}  // namespace corvane::v1

#endif  // CORVANE_MODERN_MD5_HPP
