#include <Corvane/QVSimpleRSA.h>
#include <Corvane/r_random.h>

#include <cstdio>
#include <cstring>

#include "platform/allocation.h"

namespace corvane {

namespace {

// Modulus texts up to this many digits are recorded as 512-bit keys, the
// size this class has always served. Longer texts are recorded with their
// true size: a 512-bit record over a larger modulus would pad to 64 bytes
// and keep only the low 64 bytes of the result, which nobody can decrypt.
constexpr std::size_t kClassicModulusDigits = 128;
constexpr std::uint16_t kClassicModulusBits = 512;

R_RSA_PUBLIC_KEY* allocateKeyRecord() {
    return static_cast<R_RSA_PUBLIC_KEY*>(allocate(sizeof(R_RSA_PUBLIC_KEY)));
}

// Number of significant bits of a big-endian field (0 for an all-zero one).
std::uint16_t significantBits(const unsigned char* field, std::size_t length) {
    for (std::size_t i = 0; i < length; i++) {
        if (field[i] == 0) continue;
        unsigned top = 0;
        for (unsigned b = field[i]; b != 0; b >>= 1) top++;
        return static_cast<std::uint16_t>((length - i - 1) * 8 + top);
    }
    return 0;
}

Ref<NSData> failWith(std::int32_t code, std::int32_t* error) {
    if (error != nullptr) *error = code;
    return nullptr;
}

}  // namespace

QVSimpleRSA::QVSimpleRSA() noexcept = default;

QVSimpleRSA::~QVSimpleRSA() {
    deallocate(_publicKey);
    _publicKey = nullptr;
}

std::int32_t QVSimpleRSA::setPublicKey(const char* hexModulus, const char* hexExponent) {
    if (hexModulus == nullptr || hexExponent == nullptr) return -2;
    std::size_t modulusDigits = std::strlen(hexModulus);
    std::size_t exponentDigits = std::strlen(hexExponent);
    if (modulusDigits % 2 != 0) {
        NSLog("hexModulus len is not double");
        return -2;
    }
    if (exponentDigits % 2 != 0) {
        NSLog("hexExponent len is not double");
        return -2;
    }
    // A longer text does not fit its 128-byte field; refuse it before the
    // earlier key is given up.
    if (modulusDigits > kMaxHexDigits) {
        NSLog("hexModulus is longer than 256 digits");
        return -2;
    }
    if (exponentDigits > kMaxHexDigits) {
        NSLog("hexExponent is longer than 256 digits");
        return -2;
    }

    deallocate(_publicKey);
    _publicKey = allocateKeyRecord();
    if (_publicKey == nullptr) {
        NSLog("create public key failed!");
        return -3;
    }
    valueChange(_publicKey->modulus, static_cast<std::int32_t>(sizeof _publicKey->modulus),
                hexModulus, static_cast<std::int32_t>(modulusDigits));
    valueChange(_publicKey->exponent, static_cast<std::int32_t>(sizeof _publicKey->exponent),
                hexExponent, static_cast<std::int32_t>(exponentDigits));
    _publicKey->bits = modulusDigits <= kClassicModulusDigits
                           ? kClassicModulusBits
                           : significantBits(_publicKey->modulus, sizeof _publicKey->modulus);
    return 0;
}

void QVSimpleRSA::valueChange(void* out, std::int32_t outLen, const char* hexChars,
                              std::int32_t count) {
    if (out == nullptr || outLen <= 0) return;
    auto* bytes = static_cast<unsigned char*>(out);
    std::memset(bytes, 0, static_cast<std::size_t>(outLen));
    if (hexChars == nullptr || count <= 0) return;

    // Pairs from the end of the text to the end of the area. The loop stops
    // at whichever runs out first, so a too-long text keeps its last digits,
    // and an odd text's first character is read as if a '0' stood before it.
    std::int32_t write = outLen - 1;
    std::int32_t read = count - 1;
    while (read >= 0 && write >= 0) {
        char pair[3] = {read >= 1 ? hexChars[read - 1] : '0', hexChars[read], '\0'};
        long value = std::strtol(pair, nullptr, 16);
        bytes[write] = static_cast<unsigned char>(value & 0xFF);
        write -= 1;
        read -= 2;
    }
}

Ref<NSData> QVSimpleRSA::createEncryptData(const void* message, std::int64_t length,
                                           std::int32_t* error) {
    if (_publicKey == nullptr) {
        NSLog("no public key set");
        return failWith(-2, error);
    }
    if (length < 0 || length > static_cast<std::int64_t>(UINT32_MAX)) {
        NSLog("message length out of range");
        return failWith(-2, error);
    }
    if (message == nullptr && length != 0) {
        NSLog("message is null");
        return failWith(-2, error);
    }
    // The empty message may come as a null pointer; the block operation gets
    // a valid one either way.
    static const unsigned char kNoBytes[1] = {0};
    const auto* input = message != nullptr ? static_cast<const unsigned char*>(message) : kNoBytes;

    unsigned char output[MAX_RSA_MODULUS_LEN] = {};
    std::uint32_t outputLen = 0;
    R_RANDOM_STRUCT pool;
    QV_R_RandomCreate(&pool);
    std::int32_t status = QV_RSAPublicEncrypt(output, &outputLen, input,
                                              static_cast<std::uint32_t>(length), _publicKey, &pool);
    // The pool could replay this block's padding; it dies here, so clear it.
    QV_R_RandomFinal(&pool);
    if (status != 0) {
        std::printf("QV_RSAPublicEncrypt failed with %x\n", static_cast<unsigned>(status));
        return failWith(-6, error);
    }
    if (outputLen > sizeof output) outputLen = sizeof output;
    Ref<NSData> result = make_ref<NSData>(output, NSUInteger{outputLen});
    if (!result) {
        NSLog("create encrypt data failed!");
        return failWith(-3, error);
    }
    if (error != nullptr) *error = 0;
    return result;
}

Ref<NSData> QVSimpleRSA::createEncryptData(const char* message, std::int32_t* error) {
    if (message == nullptr) {
        NSLog("message is null");
        return failWith(-2, error);
    }
    return createEncryptData(message, static_cast<std::int64_t>(std::strlen(message)), error);
}

Ref<NSData> QVSimpleRSA::createEncryptDataForData(const NSData* data, std::int32_t* error) {
    if (data == nullptr) return createEncryptData(static_cast<const void*>(nullptr), 0, error);
    return createEncryptData(data->bytes(), static_cast<std::int64_t>(data->length()), error);
}

}  // namespace corvane
