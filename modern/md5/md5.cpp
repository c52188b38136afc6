// The modern layer's MD5: the legacy context record lives inside the Md5
// object, so that <Corvane/modern/md5.hpp> never names MD5_CTX.
#include <Corvane/modern/md5.hpp>
#include <Corvane/md5.h>

#include <limits>
#include <new>

#include "modern/support/failures.h"
#include "platform/secure_zero.h"

namespace corvane::v1 {

namespace {

static_assert(sizeof(MD5_CTX) == sizeof(Md5) && alignof(MD5_CTX) <= alignof(Md5),
              "Md5 holds exactly one MD5_CTX");

MD5_CTX* contextIn(unsigned char* storage) noexcept {
    return std::launder(reinterpret_cast<MD5_CTX*>(storage));
}
const MD5_CTX* contextIn(const unsigned char* storage) noexcept {
    return std::launder(reinterpret_cast<const MD5_CTX*>(storage));
}

// QvMD5Update counts in 32 bits; longer inputs go in pieces.
void hash(MD5_CTX* context, ByteView bytes) noexcept {
    constexpr std::size_t kPiece = std::numeric_limits<std::uint32_t>::max();
    const std::uint8_t* data = corvane::detail::bytesOrEmpty(bytes);
    std::size_t left = bytes.size();
    do {
        std::size_t n = left < kPiece ? left : kPiece;
        QvMD5Update(context, data, static_cast<std::uint32_t>(n));
        data += n;
        left -= n;
    } while (left != 0);
}

}  // namespace

Md5::Md5() noexcept { QvMD5Init(::new (static_cast<void*>(context_)) MD5_CTX); }

Md5::Md5(const Md5& other) noexcept {
    ::new (static_cast<void*>(context_)) MD5_CTX(*contextIn(other.context_));
}

Md5& Md5::operator=(const Md5& other) noexcept {
    *contextIn(context_) = *contextIn(other.context_);
    return *this;
}

Md5::~Md5() { secure_zero(context_, sizeof context_); }

Md5& Md5::update(ByteView bytes) noexcept {
    hash(contextIn(context_), bytes);
    return *this;
}

Md5::Digest Md5::finish() noexcept {
    Digest digest;
    QvMD5Final(digest.data(), contextIn(context_));  // wipes the context
    QvMD5Init(contextIn(context_));
    return digest;
}

Md5::Digest Md5::digest() const noexcept {
    Md5 ending = *this;  // wiped when it goes
    return ending.finish();
}

void Md5::reset() noexcept { QvMD5Init(contextIn(context_)); }

Md5::Digest md5(ByteView bytes) noexcept {
    MD5_CTX context;
    QvMD5Init(&context);
    hash(&context, bytes);
    Md5::Digest digest;
    QvMD5Final(digest.data(), &context);  // wipes the context
    return digest;
}

}  // namespace corvane::v1
