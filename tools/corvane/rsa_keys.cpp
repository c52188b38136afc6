#include "rsa_keys.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/decoder.h>
#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "../../platform/secure_zero.h"
#include "io.h"
#include "tool_error.h"

namespace corvane::tool {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct BnClearFree {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using BnPtr = std::unique_ptr<BIGNUM, BnClearFree>;

// The file's bytes, wiped when it goes out of scope (it may hold a private key).
class FileBytes {
public:
    explicit FileBytes(const std::string& path) {
        errno = 0;
        auto data = readAll(path);
        if (!data) failure(path + ": " + (errno != 0 ? std::strerror(errno) : "read error"));
        bytes_ = std::move(*data);
    }
    ~FileBytes() { secure_zero(bytes_.data(), bytes_.size()); }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    const std::vector<unsigned char>& bytes() const { return bytes_; }

private:
    std::vector<unsigned char> bytes_;
};

// Decodes an RSA key of the given selection from PEM or DER bytes. An
// encrypted key meets an empty passphrase and so fails instead of prompting.
PkeyPtr decodeRsaKey(const std::vector<unsigned char>& bytes, int selection) {
    EVP_PKEY* pkey = nullptr;
    OSSL_DECODER_CTX* ctx = OSSL_DECODER_CTX_new_for_pkey(&pkey, nullptr, nullptr, "RSA", selection, nullptr, nullptr);
    if (ctx == nullptr) return nullptr;
    OSSL_DECODER_CTX_set_passphrase(ctx, reinterpret_cast<const unsigned char*>(""), 0);
    const unsigned char* data = bytes.data();
    std::size_t length = bytes.size();
    int ok = OSSL_DECODER_from_data(ctx, &data, &length);
    OSSL_DECODER_CTX_free(ctx);
    if (ok != 1) {
        EVP_PKEY_free(pkey);
        return nullptr;
    }
    return PkeyPtr(pkey);
}

BnPtr getNumber(const EVP_PKEY* pkey, const char* name) {
    BIGNUM* bn = nullptr;
    if (EVP_PKEY_get_bn_param(pkey, name, &bn) != 1) return nullptr;
    return BnPtr(bn);
}

// Writes the number big-endian, right-aligned in the field of width bytes.
bool putNumber(const BIGNUM* bn, unsigned char* field, int width) {
    return bn != nullptr && BN_num_bytes(bn) <= width && BN_bn2binpad(bn, field, width) == width;
}

std::uint16_t checkedBits(const BIGNUM* n, const std::string& path) {
    int bits = BN_num_bits(n);
    if (bits > MAX_RSA_MODULUS_BITS)
        failure(path + ": the key has a " + std::to_string(bits) + "-bit modulus; at most " +
                std::to_string(MAX_RSA_MODULUS_BITS) + " bits are supported");
    if (bits < 96) failure(path + ": the key's modulus is too small for PKCS #1 v1.5 blocks");
    return static_cast<std::uint16_t>(bits);
}

}  // namespace

void loadRsaPublicKey(const std::string& path, R_RSA_PUBLIC_KEY& key) {
    FileBytes file(path);
    PkeyPtr pkey = decodeRsaKey(file.bytes(), EVP_PKEY_PUBLIC_KEY);
    // A private key file serves as well: its public half is used.
    if (!pkey) pkey = decodeRsaKey(file.bytes(), EVP_PKEY_KEYPAIR);
    if (!pkey) failure(path + ": not an RSA public key (PEM or DER)");
    BnPtr n = getNumber(pkey.get(), OSSL_PKEY_PARAM_RSA_N);
    BnPtr e = getNumber(pkey.get(), OSSL_PKEY_PARAM_RSA_E);
    if (!n || !e) failure(path + ": the RSA public key lacks its modulus or exponent");
    std::memset(&key, 0, sizeof key);
    key.bits = checkedBits(n.get(), path);
    if (!putNumber(n.get(), key.modulus, MAX_RSA_MODULUS_LEN) || !putNumber(e.get(), key.exponent, MAX_RSA_MODULUS_LEN))
        failure(path + ": the RSA public key does not fit the key record");
}

void loadRsaPrivateKey(const std::string& path, R_RSA_PRIVATE_KEY& key) {
    FileBytes file(path);
    PkeyPtr pkey = decodeRsaKey(file.bytes(), EVP_PKEY_KEYPAIR);
    if (!pkey) failure(path + ": not an unencrypted RSA private key (PEM or DER)");
    BnPtr n = getNumber(pkey.get(), OSSL_PKEY_PARAM_RSA_N);
    if (!n) failure(path + ": the RSA private key lacks its modulus");
    std::uint16_t bits = checkedBits(n.get(), path);
    if (getNumber(pkey.get(), OSSL_PKEY_PARAM_RSA_FACTOR3)) failure(path + ": multi-prime RSA keys are not supported");

    struct Field {
        const char* name;
        unsigned char* target;
        int width;
    };
    std::memset(&key, 0, sizeof key);
    key.bits = bits;
    const Field fields[] = {
        {OSSL_PKEY_PARAM_RSA_N, key.modulus, MAX_RSA_MODULUS_LEN},
        {OSSL_PKEY_PARAM_RSA_E, key.publicExponent, MAX_RSA_MODULUS_LEN},
        {OSSL_PKEY_PARAM_RSA_D, key.privateExponent, MAX_RSA_MODULUS_LEN},
        {OSSL_PKEY_PARAM_RSA_FACTOR1, key.prime[0], MAX_RSA_PRIME_LEN},
        {OSSL_PKEY_PARAM_RSA_FACTOR2, key.prime[1], MAX_RSA_PRIME_LEN},
        {OSSL_PKEY_PARAM_RSA_EXPONENT1, key.primeExponent[0], MAX_RSA_PRIME_LEN},
        {OSSL_PKEY_PARAM_RSA_EXPONENT2, key.primeExponent[1], MAX_RSA_PRIME_LEN},
        {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, key.coefficient, MAX_RSA_PRIME_LEN},
    };
    for (const Field& field : fields) {
        BnPtr value = getNumber(pkey.get(), field.name);
        if (!value) {
            secure_zero_object(key);
            failure(path + ": the RSA private key lacks its CRT parameters");
        }
        if (!putNumber(value.get(), field.target, field.width)) {
            secure_zero_object(key);
            failure(path + ": the RSA private key's primes do not fit the key record");
        }
    }
}

}  // namespace corvane::tool
