#include "key_checks.h"

#include <algorithm>

namespace corvane::detail {

namespace {

bool isZero(std::span<const std::uint8_t> bytes) noexcept {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

unsigned significantBits(std::span<const std::uint8_t> bigEndian) noexcept {
    for (std::size_t i = 0; i < bigEndian.size(); i++) {
        if (bigEndian[i] == 0) continue;
        unsigned top = 0;
        for (unsigned b = bigEndian[i]; b != 0; b >>= 1) top++;
        return static_cast<unsigned>((bigEndian.size() - i - 1) * 8) + top;
    }
    return 0;
}

ErrorCode checkPublicFields(std::span<const std::uint8_t, MAX_RSA_MODULUS_LEN> modulus,
                            std::span<const std::uint8_t, MAX_RSA_MODULUS_LEN> exponent) noexcept {
    if (significantBits(modulus) < kMinModulusBits) return ErrorCode::keyTooSmall;
    if ((modulus.back() & 1) == 0 || isZero(exponent)) return ErrorCode::keyInvalid;
    return ErrorCode::ok;
}

ErrorCode checkPrivateRecord(const R_RSA_PRIVATE_KEY& key) noexcept {
    if (ErrorCode e = checkPublicFields(key.modulus, key.publicExponent); e != ErrorCode::ok) return e;
    const std::span<const std::uint8_t> secrets[] = {key.privateExponent,  key.prime[0],
                                                     key.prime[1],         key.primeExponent[0],
                                                     key.primeExponent[1], key.coefficient};
    for (auto field : secrets)
        if (isZero(field)) return ErrorCode::keyIncomplete;
    return ErrorCode::ok;
}

}  // namespace corvane::detail
