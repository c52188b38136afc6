// A DEMONSTRATION 512-bit RSA key pair shared by the tour's RSA examples.
// It is published, so it protects nothing: never use it for real data.
#ifndef CORVANE_TOUR_KEY_H
#define CORVANE_TOUR_KEY_H

#include <Corvane/rsa.h>

#include <cstring>
#include <string_view>

namespace tour {

inline constexpr char kModulus[] =
    "B5ED69578A2655AEE7E002928CB1A458C56D2AB3D4A7124621ABFDB6E1BFD130"
    "63B043923DCE753B30FD792B685CBF77FF0A66E87FD27F81B9D3FA3823F93839";
inline constexpr char kPublicExponent[] = "010001";
inline constexpr char kPrivateExponent[] =
    "2FBE5969E6D07EA603262FA6A413AE8CB96B17CCCFDEF495C11A70E000C8A52D"
    "FB85B94451213A5F75C7CF94C4FF863313C8FC29BF4E2A776BEC3B37FDA9BC81";
inline constexpr char kPrime1[] = "D86A6C46101B1F4D9E3D91B033334BE5B0C613CD721E7D08314B66B85C2394F1";
inline constexpr char kPrime2[] = "D734163A9FA9E7FEBF6DDAE15A19E11555C0BEE3925B1B807A8842F0C1A1B7C9";
inline constexpr char kPrimeExponent1[] = "7CBBD20E0BC86621697C1915525D55785C8BBDEC22C339D357FE1A8555EDD831";
inline constexpr char kPrimeExponent2[] = "424C3BA4E7D7522F7B0DFEE679F98B0C2594F1B9EE36BF2C3F9386FBE0CB4F71";
inline constexpr char kCoefficient[] = "D5DE3587EF817416534653E13A74F8DF01D4C15A7D6E5734C61239B9B861D911";

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
