// Decryption of arbitrary data under arbitrary keys and IVs. The first input
// byte picks the key length (0-31) and the second the IV length (0-15, or
// nil); key and IV bytes follow, the rest is the ciphertext.
//
// Checked: no crash or overrun; success exactly when the adapter accepts the
// same ciphertext under the zero-extended or cut key and IV; a result never
// longer than the input and never a reused error code; and every success
// encrypts back to the input under the same key and IV.
#include <Corvane/QVDes3.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "CommonCrypto.h"

using corvane::make_ref;
using corvane::NSData;
using corvane::QVDes3;
using corvane::Ref;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t keyLength = std::min<std::size_t>(bytes[0] % 32, size - 2);
    const bool nilIv = bytes[1] >= 0xF0;
    const std::size_t ivLength = nilIv ? 0 : std::min<std::size_t>(bytes[1] % 16, size - 2 - keyLength);
    const std::uint8_t* key = bytes + 2;
    const std::uint8_t* iv = key + keyLength;
    const std::uint8_t* cipher = iv + ivLength;
    const std::size_t cipherLength = size - 2 - keyLength - ivLength;

    Ref<NSData> keyData = make_ref<NSData>(key, keyLength);
    Ref<NSData> ivData = nilIv ? Ref<NSData>() : make_ref<NSData>(iv, ivLength);
    Ref<NSData> cipherData = make_ref<NSData>(cipher, cipherLength);

    // What the class should hand the cipher.
    std::uint8_t fullKey[24] = {}, fullIv[8] = {};
    std::memcpy(fullKey, key, std::min<std::size_t>(keyLength, 24));
    if (nilIv)
        std::memcpy(fullIv, fullKey, 8);
    else
        std::memcpy(fullIv, iv, std::min<std::size_t>(ivLength, 8));
    std::vector<std::uint8_t> expected(cipherLength + 8);
    std::size_t expectedLength = 0;
    const bool expectSuccess =
        CCCrypt(kCCDecrypt, kCCAlgorithm3DES, kCCOptionPKCS7Padding, fullKey, 24, fullIv, cipher, cipherLength,
                expected.data(), expected.size(), &expectedLength) == kCCSuccess;

    std::int32_t error = 1;
    Ref<NSData> plain = QVDes3::createDes3DecryptData(cipherData.get(), keyData.get(), ivData.get(), &error);
    check(bool(plain) == expectSuccess);
    check(plain ? error == 0 : error == -5);
    if (!plain) return 0;
    check(plain->length() == expectedLength && plain->length() < cipherLength);
    check(std::memcmp(plain->bytes(), expected.data(), expectedLength) == 0);

    Ref<NSData> again = QVDes3::createDes3EncryptData(plain.get(), keyData.get(), ivData.get(), &error);
    check(again && error == 0 && again->length() == cipherLength);
    check(std::memcmp(again->bytes(), cipher, cipherLength) == 0);
    return 0;
}
