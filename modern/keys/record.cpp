#include "modern/keys/record.h"

#include <algorithm>
#include <cstring>

#include "modern/keys/checks.h"
#include "modern/support/openssl_handles.h"
#include "platform/secure_zero.h"

namespace corvane::detail {

namespace {

// Copies a big-endian value right-aligned into its (zeroed) field.
template <std::size_t N>
bool putValue(Bytes value, unsigned char (&field)[N]) noexcept {
    if (value.size() > N) return false;
    if (!value.empty()) std::memcpy(field + (N - value.size()), value.data(), value.size());
    return true;
}

ErrorCode modulusSize(Bytes n, unsigned& modulusBits) noexcept {
    modulusBits = significantBits(n);
    return modulusBits > MAX_RSA_MODULUS_BITS ? ErrorCode::keyTooLarge : ErrorCode::ok;
}

}  // namespace

ErrorCode fillPublicRecord(const PublicValues& values, R_RSA_PUBLIC_KEY& key, unsigned& modulusBits,
                           const char** why) noexcept {
    if (ErrorCode e = modulusSize(values.n, modulusBits); e != ErrorCode::ok) return e;
    if (!putValue(values.n, key.modulus) || !putValue(values.e, key.exponent)) {
        *why = "the public exponent is longer than its field";
        return ErrorCode::keyDoesNotFit;
    }
    key.bits = static_cast<std::uint16_t>(modulusBits);
    return ErrorCode::ok;
}

ErrorCode fillPrivateRecord(const PrivateValues& values, R_RSA_PRIVATE_KEY& key, unsigned& modulusBits,
                            const char** why) noexcept {
    if (ErrorCode e = modulusSize(values.n, modulusBits); e != ErrorCode::ok) return e;
    const bool fits = putValue(values.n, key.modulus) && putValue(values.e, key.publicExponent) &&
                      putValue(values.d, key.privateExponent) && putValue(values.p, key.prime[0]) &&
                      putValue(values.q, key.prime[1]) && putValue(values.dP, key.primeExponent[0]) &&
                      putValue(values.dQ, key.primeExponent[1]) && putValue(values.qInv, key.coefficient);
    if (!fits) {
        *why = "a value is longer than its field";
        return ErrorCode::keyDoesNotFit;
    }
    key.bits = static_cast<std::uint16_t>(modulusBits);
    return ErrorCode::ok;
}

ErrorCode putLargerPrimeFirst(R_RSA_PRIVATE_KEY& key) noexcept {
    if (std::memcmp(key.prime[0], key.prime[1], MAX_RSA_PRIME_LEN) >= 0) return ErrorCode::ok;
    std::swap_ranges(key.prime[0], key.prime[0] + MAX_RSA_PRIME_LEN, key.prime[1]);
    std::swap_ranges(key.primeExponent[0], key.primeExponent[0] + MAX_RSA_PRIME_LEN, key.primeExponent[1]);
    // The inverse of the new q (the old p) modulo the new p (the old q).
    BnCtxPtr ctx(BN_CTX_secure_new());
    BnPtr p(BN_secure_new()), q(BN_secure_new()), inverse(BN_secure_new());
    if (!ctx || !p || !q || !inverse || !BN_bin2bn(key.prime[0], MAX_RSA_PRIME_LEN, p.get()) ||
        !BN_bin2bn(key.prime[1], MAX_RSA_PRIME_LEN, q.get()))
        return ErrorCode::outOfMemory;
    BN_set_flags(p.get(), BN_FLG_CONSTTIME);
    BN_set_flags(q.get(), BN_FLG_CONSTTIME);
    // Distinct primes (the checks passed) always have the inverse.
    if (BN_mod_inverse(inverse.get(), q.get(), p.get(), ctx.get()) == nullptr ||
        BN_bn2binpad(inverse.get(), key.coefficient, MAX_RSA_PRIME_LEN) != MAX_RSA_PRIME_LEN)
        return ErrorCode::outOfMemory;
    return ErrorCode::ok;
}

}  // namespace corvane::detail
