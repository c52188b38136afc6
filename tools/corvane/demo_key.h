// A DEMONSTRATION RSA key pair of 512 bits for `corvane demo`.
//
// It was made once with `openssl genpkey -algorithm RSA -pkeyopt
// rsa_keygen_bits:512` and is published here, so it protects nothing: never
// use it, or any 512-bit key, for real data. Fields are big-endian
// hexadecimal, as QVSimpleRSA takes them.
#ifndef CORVANE_TOOL_DEMO_KEY_H
#define CORVANE_TOOL_DEMO_KEY_H

namespace corvane::tool::demo_key {

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
// q^-1 mod p
inline constexpr char kCoefficient[] = "D5DE3587EF817416534653E13A74F8DF01D4C15A7D6E5734C61239B9B861D911";

}  // namespace corvane::tool::demo_key

#endif
