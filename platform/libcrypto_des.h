// Triple-DES encryption through libcrypto's own DES functions, beneath its
// EVP layer: the same cipher as EVP's DES-EDE3, without the context, the
// provider's context and the parameter passing that EVP spends on every
// message (about half the time of an 8-byte message). The key schedule is
// the caller's, so the caller wipes it. Built where libcrypto still offers
// these functions (deprecated since OpenSSL 3.0 in favour of EVP; CMake
// checks, CORVANE_HAVE_LIBCRYPTO_DES); elsewhere CCCrypt and the streams use
// EVP. Internal: not installed, not exported.
#ifndef CORVANE_LIBCRYPTO_DES_H
#define CORVANE_LIBCRYPTO_DES_H

#include <cstddef>
#include <cstdint>

namespace corvane::libcrypto_des {

// Three DES key schedules, opaque here (libcrypto's DES_key_schedule). A
// secret: wipe it.
struct Key {
    alignas(16) unsigned char schedules[3 * 128];
};

// key: K1 || K2 || K3, 24 bytes; parity ignored, weak keys accepted.
void setKey(Key& schedule, const std::uint8_t* key) noexcept;

// Whole blocks (length a multiple of 8) from in to out, which may be the
// same buffer: CBC after chain, which becomes the last ciphertext block, or
// ECB.
void encryptCbc(const Key& schedule, std::uint8_t* chain, const std::uint8_t* in, std::uint8_t* out,
                std::size_t length) noexcept;
void encryptEcb(const Key& schedule, const std::uint8_t* in, std::uint8_t* out, std::size_t length) noexcept;

}  // namespace corvane::libcrypto_des

#endif  // CORVANE_LIBCRYPTO_DES_H
