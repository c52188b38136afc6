// Writing the key records as PEM, through OpenSSL's encoders.
#include <Corvane/keys.h>
#include <openssl/core_names.h>
#include <openssl/encoder.h>

#include <new>
#include <vector>

#include "key_checks.h"
#include "openssl_handles.h"

namespace corvane {

namespace {

using detail::BioPtr;
using detail::BnPtr;
using detail::ParamBldPtr;
using detail::ParamsPtr;
using detail::PkeyCtxPtr;
using detail::PkeyPtr;

struct EncoderCtxFree {
    void operator()(OSSL_ENCODER_CTX* ctx) const noexcept { OSSL_ENCODER_CTX_free(ctx); }
};
using EncoderCtxPtr = std::unique_ptr<OSSL_ENCODER_CTX, EncoderCtxFree>;

// One field of a record and the OpenSSL parameter it becomes. Secret values
// go into OpenSSL's secure heap (where one is set up), and are cleared on
// free either way.
struct KeyField {
    const char* name;
    std::span<const std::uint8_t> bytes;
    bool secret;
};

ErrorCode opensslKeyOf(std::span<const KeyField> fields, int selection, PkeyPtr& key) {
    ParamBldPtr builder(OSSL_PARAM_BLD_new());
    if (!builder) return ErrorCode::outOfMemory;
    std::vector<BnPtr> numbers;
    numbers.reserve(fields.size());
    for (const KeyField& field : fields) {
        numbers.emplace_back(field.secret ? BN_secure_new() : BN_new());
        BIGNUM* number = numbers.back().get();
        if (number == nullptr ||
            BN_bin2bn(field.bytes.data(), static_cast<int>(field.bytes.size()), number) == nullptr ||
            OSSL_PARAM_BLD_push_BN(builder.get(), field.name, number) != 1)
            return ErrorCode::outOfMemory;
    }
    ParamsPtr params(OSSL_PARAM_BLD_to_param(builder.get()));
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    if (!params || !ctx) return ErrorCode::outOfMemory;
    EVP_PKEY* made = nullptr;
    if (EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &made, selection, params.get()) != 1)
        return ErrorCode::keyInvalid;
    key.reset(made);
    return ErrorCode::ok;
}

// The key as PEM text of the structure, encrypted when a passphrase is given.
// The text passes through a BIO that clears its memory when freed.
ErrorCode pemOf(EVP_PKEY* key, int selection, const char* structure, std::string_view passphrase,
                std::string& pem) {
    EncoderCtxPtr ctx(OSSL_ENCODER_CTX_new_for_pkey(key, selection, "PEM", structure, nullptr));
    if (!ctx || OSSL_ENCODER_CTX_get_num_encoders(ctx.get()) == 0) return ErrorCode::outOfMemory;
    if (!passphrase.empty() &&
        (OSSL_ENCODER_CTX_set_cipher(ctx.get(), "AES-256-CBC", nullptr) != 1 ||
         OSSL_ENCODER_CTX_set_passphrase(ctx.get(), reinterpret_cast<const unsigned char*>(passphrase.data()),
                                         passphrase.size()) != 1))
        return ErrorCode::outOfMemory;
    BioPtr bio(BIO_new(BIO_s_secmem()));
    if (!bio) return ErrorCode::outOfMemory;
    if (OSSL_ENCODER_to_bio(ctx.get(), bio.get()) != 1) return ErrorCode::keyInvalid;
    char* text = nullptr;
    long length = BIO_get_mem_data(bio.get(), &text);
    if (length <= 0 || text == nullptr) return ErrorCode::keyInvalid;
    pem.assign(text, static_cast<std::size_t>(length));
    return ErrorCode::ok;
}

template <typename Write>
std::error_code runWrite(Write write) noexcept {
    try {
        detail::ErrorQueueMark mark;
        return write();
    } catch (const std::bad_alloc&) {
        return ErrorCode::outOfMemory;
    }
}

}  // namespace

std::error_code rsaPublicKeyToPem(const R_RSA_PUBLIC_KEY& key, std::string& pem,
                                  RsaKeyFormat format) noexcept {
    return runWrite([&]() -> std::error_code {
        if (ErrorCode e = detail::checkPublicFields(key.modulus, key.exponent); e != ErrorCode::ok) return e;
        const KeyField fields[] = {{OSSL_PKEY_PARAM_RSA_N, key.modulus, false},
                                   {OSSL_PKEY_PARAM_RSA_E, key.exponent, false}};
        PkeyPtr pkey;
        if (ErrorCode e = opensslKeyOf(fields, EVP_PKEY_PUBLIC_KEY, pkey); e != ErrorCode::ok) return e;
        const char* structure = format == RsaKeyFormat::pkcs1 ? "type-specific" : "SubjectPublicKeyInfo";
        return pemOf(pkey.get(), EVP_PKEY_PUBLIC_KEY, structure, {}, pem);
    });
}

std::error_code rsaPrivateKeyToPem(const R_RSA_PRIVATE_KEY& key, std::string& pem, RsaKeyFormat format,
                                   std::string_view passphrase) noexcept {
    return runWrite([&]() -> std::error_code {
        if (ErrorCode e = detail::checkPrivateRecord(key); e != ErrorCode::ok) return e;
        const KeyField fields[] = {
            {OSSL_PKEY_PARAM_RSA_N, key.modulus, false},
            {OSSL_PKEY_PARAM_RSA_E, key.publicExponent, false},
            {OSSL_PKEY_PARAM_RSA_D, key.privateExponent, true},
            {OSSL_PKEY_PARAM_RSA_FACTOR1, key.prime[0], true},
            {OSSL_PKEY_PARAM_RSA_FACTOR2, key.prime[1], true},
            {OSSL_PKEY_PARAM_RSA_EXPONENT1, key.primeExponent[0], true},
            {OSSL_PKEY_PARAM_RSA_EXPONENT2, key.primeExponent[1], true},
            {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, key.coefficient, true},
        };
        PkeyPtr pkey;
        if (ErrorCode e = opensslKeyOf(fields, EVP_PKEY_KEYPAIR, pkey); e != ErrorCode::ok) return e;
        const char* structure = format == RsaKeyFormat::pkcs1 ? "type-specific" : "PrivateKeyInfo";
        return pemOf(pkey.get(), EVP_PKEY_KEYPAIR, structure, passphrase, pem);
    });
}

}  // namespace corvane
