#include "tests/support/rsa/rsa_calls.h"

#include <stdexcept>

namespace corvane::test {

namespace {

// Output buffers are always the largest block, filled with a marker so that
// a test can see what an operation wrote.
constexpr std::uint8_t kUnwritten = 0xA5;

template <typename Op>
RsaResult run(const Bytes& input, Op op) {
    Bytes buffer(MAX_RSA_MODULUS_LEN, kUnwritten);
    std::uint32_t outLen = 0xFFFFFFFFu;
    RsaResult r;
    r.status = op(buffer.data(), &outLen, input.data(), static_cast<std::uint32_t>(input.size()));
    if (r.status == 0) {
        if (outLen > buffer.size()) throw std::runtime_error("output length beyond the block");
        r.out.assign(buffer.begin(), buffer.begin() + outLen);
    }
    return r;
}

}  // namespace

RsaResult callPublicEncrypt(const R_RSA_PUBLIC_KEY& key, const Bytes& message, R_RANDOM_STRUCT& pool) {
    return run(message, [&](unsigned char* o, std::uint32_t* ol, const unsigned char* i, std::uint32_t il) {
        return QV_RSAPublicEncrypt(o, ol, i, il, &key, &pool);
    });
}

RsaResult callPrivateEncrypt(const R_RSA_PRIVATE_KEY& key, const Bytes& message) {
    return run(message, [&](unsigned char* o, std::uint32_t* ol, const unsigned char* i, std::uint32_t il) {
        return QV_RSAPrivateEncrypt(o, ol, i, il, &key);
    });
}

RsaResult callPublicDecrypt(const R_RSA_PUBLIC_KEY& key, const Bytes& input) {
    return run(input, [&](unsigned char* o, std::uint32_t* ol, const unsigned char* i, std::uint32_t il) {
        return QV_RSAPublicDecrypt(o, ol, i, il, &key);
    });
}

RsaResult callPrivateDecrypt(const R_RSA_PRIVATE_KEY& key, const Bytes& input) {
    return run(input, [&](unsigned char* o, std::uint32_t* ol, const unsigned char* i, std::uint32_t il) {
        return QV_RSAPrivateDecrypt(o, ol, i, il, &key);
    });
}

R_RANDOM_STRUCT seededTestPool(std::uint64_t seed) {
    R_RANDOM_STRUCT pool{};  // output is never set by init; zeroed so whole-record comparisons read defined bytes
    QV_R_RandomInit(&pool);
    Rng rng(seed);
    Bytes material = rng.bytes(256);
    QV_R_RandomUpdate(&pool, material.data(), static_cast<std::uint32_t>(material.size()));
    return pool;
}

}  // namespace corvane::test
