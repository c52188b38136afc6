#include "platform/libcrypto_des.h"

#if defined(CORVANE_HAVE_LIBCRYPTO_DES)

// These functions are deprecated in OpenSSL 3.0, still present, and the
// whole point of this file.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include <climits>
#include <cstring>

namespace corvane::libcrypto_des {

namespace {

static_assert(sizeof(DES_key_schedule) == 128 && alignof(DES_key_schedule) <= 16);

// const_DES_cblock is not const (OpenSSL keeps the name for the signatures'
// sake); the functions only read through it.
const_DES_cblock* block(const std::uint8_t* p) { return reinterpret_cast<const_DES_cblock*>(const_cast<std::uint8_t*>(p)); }

const DES_key_schedule* schedule(const Key& key, unsigned i) {
    return reinterpret_cast<const DES_key_schedule*>(key.schedules + 128 * i);
}

// DES_ede3_cbc_encrypt counts in long; longer inputs go in pieces of whole
// blocks (the chain carries over through the cblock it updates).
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;
static_assert(kMaxPiece % 8 == 0 && kMaxPiece <= LONG_MAX);

}  // namespace

void setKey(Key& key, const std::uint8_t* bytes) noexcept {
    for (unsigned i = 0; i < 3; ++i)
        DES_set_key_unchecked(block(bytes + 8 * i),
                              reinterpret_cast<DES_key_schedule*>(key.schedules + 128 * i));
}

void encryptCbc(const Key& key, std::uint8_t* chain, const std::uint8_t* in, std::uint8_t* out,
                std::size_t length) noexcept {
    for (std::size_t done = 0; done < length;) {
        const std::size_t piece = length - done < kMaxPiece ? length - done : kMaxPiece;
        DES_ede3_cbc_encrypt(in + done, out + done, static_cast<long>(piece), const_cast<DES_key_schedule*>(schedule(key, 0)),
                             const_cast<DES_key_schedule*>(schedule(key, 1)), const_cast<DES_key_schedule*>(schedule(key, 2)),
                             reinterpret_cast<DES_cblock*>(chain), DES_ENCRYPT);
        done += piece;
    }
}

void encryptEcb(const Key& key, const std::uint8_t* in, std::uint8_t* out, std::size_t length) noexcept {
    for (std::size_t i = 0; i < length; i += 8)
        DES_ecb3_encrypt(block(in + i), reinterpret_cast<DES_cblock*>(out + i),
                         const_cast<DES_key_schedule*>(schedule(key, 0)), const_cast<DES_key_schedule*>(schedule(key, 1)),
                         const_cast<DES_key_schedule*>(schedule(key, 2)), DES_ENCRYPT);
}

}  // namespace corvane::libcrypto_des

#endif
