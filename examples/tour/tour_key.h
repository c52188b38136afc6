// A DEMONSTRATION 512-bit RSA key pair shared by the tour's RSA examples.
// It is published, so it protects nothing: never use it for real data.
#ifndef CORVANE_TOUR_KEY_H
#define CORVANE_TOUR_KEY_H

#include <Corvane/rsa.h>

#include <cstring>
#include <string_view>

#include "../../tools/corvane/demo_key.h"

namespace tour {

// The same demonstration key that `corvane demo` uses, kept in one place.
using namespace corvane::tool::demo_key;

// Writes an even-length hexadecimal number right-aligned into a key field.
inline void putHex(std::string_view hex, unsigned char* field, std::size_t width) {
    auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::memset(field, 0, width);
    unsigned char* out = field + width - hex.size() / 2;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        *out++ = static_cast<unsigned char>(nibble(hex[i]) * 16 + nibble(hex[i + 1]));
}

inline R_RSA_PUBLIC_KEY publicKey() {
    R_RSA_PUBLIC_KEY key{};
    key.bits = 512;
    putHex(kModulus, key.modulus, sizeof key.modulus);
    putHex(kPublicExponent, key.exponent, sizeof key.exponent);
    return key;
}

inline R_RSA_PRIVATE_KEY privateKey() {
    R_RSA_PRIVATE_KEY key{};
    key.bits = 512;
    putHex(kModulus, key.modulus, sizeof key.modulus);
    putHex(kPublicExponent, key.publicExponent, sizeof key.publicExponent);
    putHex(kPrivateExponent, key.privateExponent, sizeof key.privateExponent);
    putHex(kPrime1, key.prime[0], sizeof key.prime[0]);
    putHex(kPrime2, key.prime[1], sizeof key.prime[1]);
    putHex(kPrimeExponent1, key.primeExponent[0], sizeof key.primeExponent[0]);
    putHex(kPrimeExponent2, key.primeExponent[1], sizeof key.primeExponent[1]);
    putHex(kCoefficient, key.coefficient, sizeof key.coefficient);
    return key;
}

}  // namespace tour

#endif
