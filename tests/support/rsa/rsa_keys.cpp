#include "tests/support/rsa/rsa_keys.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstring>
#include <map>
#include <stdexcept>

namespace corvane::test {

namespace {

struct BnFree {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

struct CtxFree {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, CtxFree>;

Bn bnOf(const Bytes& b) { return Bn(BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr)); }

Bytes bnBytes(const BIGNUM* b) {
    Bytes out(static_cast<std::size_t>(BN_num_bytes(b)));
    BN_bn2bin(b, out.data());
    return out;
}

Bytes paramOf(EVP_PKEY* key, const char* name) {
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) throw std::runtime_error(std::string("no RSA param ") + name);
    Bn value(raw);
    return bnBytes(value.get());
}

// value right-aligned in field[0..length); false when it does not fit.
bool putField(unsigned char* field, std::size_t length, const Bytes& value) {
    std::size_t skip = 0;
    while (skip < value.size() && value[skip] == 0) skip++;
    std::size_t significant = value.size() - skip;
    if (significant > length) return false;
    std::memset(field, 0, length);
    if (significant != 0) std::memcpy(field + length - significant, value.data() + skip, significant);
    return true;
}

unsigned bitLength(const Bytes& value) {
    Bn b = bnOf(value);
    return static_cast<unsigned>(BN_num_bits(b.get()));
}

PkeyCtx contextFor(const RsaKey& key) {
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.evp.get(), nullptr));
    if (!ctx) throw std::runtime_error("EVP_PKEY_CTX_new_from_pkey failed");
    return ctx;
}

// Runs one EVP operation that has the (ctx, out, outLen, in, inLen) shape.
template <typename Init, typename Op>
std::optional<Bytes> runEvp(const RsaKey& key, const Bytes& input, int padding, Init init, Op op) {
    PkeyCtx ctx = contextFor(key);
    if (init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding) != 1) return std::nullopt;
    std::size_t outLen = 0;
    if (op(ctx.get(), nullptr, &outLen, input.data(), input.size()) != 1) return std::nullopt;
    Bytes out(outLen);
    if (op(ctx.get(), out.data(), &outLen, input.data(), input.size()) != 1) return std::nullopt;
    out.resize(outLen);
    return out;
}

}  // namespace

bool fillRsaRecords(const RsaComponents& parts, R_RSA_PUBLIC_KEY* publicKey, R_RSA_PRIVATE_KEY* privateKey) {
    std::memset(publicKey, 0, sizeof *publicKey);
    std::memset(privateKey, 0, sizeof *privateKey);
    unsigned bits = bitLength(parts.n);
    publicKey->bits = static_cast<std::uint16_t>(bits);
    privateKey->bits = static_cast<std::uint16_t>(bits);
    bool fits = putField(publicKey->modulus, sizeof publicKey->modulus, parts.n) &&
                putField(publicKey->exponent, sizeof publicKey->exponent, parts.e) &&
                putField(privateKey->modulus, sizeof privateKey->modulus, parts.n) &&
                putField(privateKey->publicExponent, sizeof privateKey->publicExponent, parts.e) &&
                putField(privateKey->privateExponent, sizeof privateKey->privateExponent, parts.d) &&
                putField(privateKey->prime[0], sizeof privateKey->prime[0], parts.p) &&
                putField(privateKey->prime[1], sizeof privateKey->prime[1], parts.q) &&
                putField(privateKey->primeExponent[0], sizeof privateKey->primeExponent[0], parts.dP) &&
                putField(privateKey->primeExponent[1], sizeof privateKey->primeExponent[1], parts.dQ) &&
                putField(privateKey->coefficient, sizeof privateKey->coefficient, parts.qInv);
    if (!fits) {
        std::uint16_t b = publicKey->bits;
        std::memset(publicKey, 0, sizeof *publicKey);
        std::memset(privateKey, 0, sizeof *privateKey);
        publicKey->bits = b;
        privateKey->bits = b;
    }
    return fits;
}

RsaKey rsaKeyFromEvp(EvpKey evp) {
    RsaKey key;
    EVP_PKEY* k = evp.get();
    key.parts.n = paramOf(k, OSSL_PKEY_PARAM_RSA_N);
    key.parts.e = paramOf(k, OSSL_PKEY_PARAM_RSA_E);
    key.parts.d = paramOf(k, OSSL_PKEY_PARAM_RSA_D);
    key.parts.p = paramOf(k, OSSL_PKEY_PARAM_RSA_FACTOR1);
    key.parts.q = paramOf(k, OSSL_PKEY_PARAM_RSA_FACTOR2);
    key.parts.dP = paramOf(k, OSSL_PKEY_PARAM_RSA_EXPONENT1);
    key.parts.dQ = paramOf(k, OSSL_PKEY_PARAM_RSA_EXPONENT2);
    key.parts.qInv = paramOf(k, OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
    key.evp = std::move(evp);
    key.bits = bitLength(key.parts.n);
    key.fitsRecords = fillRsaRecords(key.parts, &key.publicKey, &key.privateKey);
    return key;
}

RsaKey generateRsaKey(unsigned bits) {
    EvpKey evp(EVP_RSA_gen(bits));
    if (!evp) throw std::runtime_error("EVP_RSA_gen failed for " + std::to_string(bits) + " bits");
    return rsaKeyFromEvp(std::move(evp));
}

const RsaKey& cachedRsaKey(unsigned bits) {
    static std::map<unsigned, RsaKey> cache;
    auto it = cache.find(bits);
    if (it == cache.end()) it = cache.emplace(bits, generateRsaKey(bits)).first;
    return it->second;
}

RsaKey rsaKeyFromComponents(const RsaComponents& parts) {
    struct BldFree {
        void operator()(OSSL_PARAM_BLD* b) const { OSSL_PARAM_BLD_free(b); }
    };
    struct ParamFree {
        void operator()(OSSL_PARAM* p) const { OSSL_PARAM_free(p); }
    };
    std::unique_ptr<OSSL_PARAM_BLD, BldFree> bld(OSSL_PARAM_BLD_new());
    const std::pair<const char*, const Bytes*> fields[] = {
        {OSSL_PKEY_PARAM_RSA_N, &parts.n},          {OSSL_PKEY_PARAM_RSA_E, &parts.e},
        {OSSL_PKEY_PARAM_RSA_D, &parts.d},          {OSSL_PKEY_PARAM_RSA_FACTOR1, &parts.p},
        {OSSL_PKEY_PARAM_RSA_FACTOR2, &parts.q},    {OSSL_PKEY_PARAM_RSA_EXPONENT1, &parts.dP},
        {OSSL_PKEY_PARAM_RSA_EXPONENT2, &parts.dQ}, {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, &parts.qInv},
    };
    std::vector<Bn> keep;
    for (const auto& [name, value] : fields) {
        keep.push_back(bnOf(*value));
        if (OSSL_PARAM_BLD_push_BN(bld.get(), name, keep.back().get()) != 1)
            throw std::runtime_error("OSSL_PARAM_BLD_push_BN failed");
    }
    std::unique_ptr<OSSL_PARAM, ParamFree> params(OSSL_PARAM_BLD_to_param(bld.get()));
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* raw = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_KEYPAIR, params.get()) != 1)
        throw std::runtime_error("EVP_PKEY_fromdata failed");
    RsaKey key;
    key.evp.reset(raw);
    key.parts = parts;
    key.bits = bitLength(parts.n);
    key.fitsRecords = fillRsaRecords(key.parts, &key.publicKey, &key.privateKey);
    return key;
}

RsaKey rsaKeyFromPem(const std::string& pem) {
    struct BioFree {
        void operator()(BIO* b) const { BIO_free(b); }
    };
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    EvpKey evp(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!evp) throw std::runtime_error("cannot read PEM private key");
    return rsaKeyFromEvp(std::move(evp));
}

R_RSA_PRIVATE_KEY privateKeyWithPrimeOrder(const RsaKey& key, bool largerPrimeFirst) {
    RsaComponents parts = key.parts;
    Bn p = bnOf(parts.p), q = bnOf(parts.q);
    if ((BN_cmp(p.get(), q.get()) > 0) != largerPrimeFirst) {
        std::swap(parts.p, parts.q);
        std::swap(parts.dP, parts.dQ);
        std::swap(p, q);
    }
    struct BnCtxFree {
        void operator()(BN_CTX* c) const { BN_CTX_free(c); }
    };
    std::unique_ptr<BN_CTX, BnCtxFree> bnCtx(BN_CTX_new());
    Bn qInv(BN_mod_inverse(nullptr, q.get(), p.get(), bnCtx.get()));
    if (!qInv) throw std::runtime_error("BN_mod_inverse failed");
    parts.qInv = bnBytes(qInv.get());
    R_RSA_PUBLIC_KEY unusedPublic;
    R_RSA_PRIVATE_KEY privateKey;
    if (!fillRsaRecords(parts, &unusedPublic, &privateKey)) throw std::runtime_error("key does not fit the records");
    return privateKey;
}

std::optional<Bytes> opensslPublicEncrypt(const RsaKey& key, const Bytes& message, int padding) {
    return runEvp(key, message, padding, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt);
}

std::optional<Bytes> opensslPrivateDecrypt(const RsaKey& key, const Bytes& ciphertext, int padding) {
    return runEvp(key, ciphertext, padding, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt);
}

std::optional<Bytes> opensslPrivateEncrypt(const RsaKey& key, const Bytes& message, int padding) {
    return runEvp(key, message, padding, EVP_PKEY_sign_init, EVP_PKEY_sign);
}

std::optional<Bytes> opensslPublicDecrypt(const RsaKey& key, const Bytes& signature, int padding) {
    return runEvp(key, signature, padding, EVP_PKEY_verify_recover_init, EVP_PKEY_verify_recover);
}

std::optional<RsaComponents> rsaComponentsFromPrimes(const BIGNUM* p, const BIGNUM* q, unsigned long e) {
    using Bn = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
    auto fresh = [] { return Bn(BN_new(), BN_free); };
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    Bn n = fresh(), eBn = fresh(), d = fresh(), phi = fresh(), p1 = fresh(), q1 = fresh(), t = fresh();
    auto bytes = [](const BIGNUM* b) {
        Bytes out(static_cast<std::size_t>(BN_num_bytes(b)));
        BN_bn2bin(b, out.data());
        return out;
    };
    BN_mul(n.get(), p, q, ctx.get());
    BN_set_word(eBn.get(), e);
    BN_sub(p1.get(), p, BN_value_one());
    BN_sub(q1.get(), q, BN_value_one());
    BN_mul(phi.get(), p1.get(), q1.get(), ctx.get());
    if (BN_mod_inverse(d.get(), eBn.get(), phi.get(), ctx.get()) == nullptr) return std::nullopt;
    RsaComponents c;
    c.n = bytes(n.get());
    c.e = bytes(eBn.get());
    c.d = bytes(d.get());
    c.p = bytes(p);
    c.q = bytes(q);
    BN_mod(t.get(), d.get(), p1.get(), ctx.get());
    c.dP = bytes(t.get());
    BN_mod(t.get(), d.get(), q1.get(), ctx.get());
    c.dQ = bytes(t.get());
    if (BN_mod_inverse(t.get(), q, p, ctx.get()) == nullptr) return std::nullopt;
    c.qInv = bytes(t.get());
    return c;
}

}  // namespace corvane::test
