// Owning handles for the OpenSSL objects the key readers and writers use.
// Numbers are freed with BN_clear_free, since they may hold a private value.
// Parameter arrays keep the values of numbers made with BN_secure_new in a
// block of their own that OSSL_PARAM_free clears, so private values go in
// that way.
// Internal: not installed, not exported.
#ifndef CORVANE_MODERN_OPENSSL_HANDLES_H
#define CORVANE_MODERN_OPENSSL_HANDLES_H

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

#include <memory>

namespace corvane::detail {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const noexcept { Free(p); }
};

using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using BnPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_clear_free>>;
using BnCtxPtr = std::unique_ptr<BN_CTX, Deleter<BN_CTX, BN_CTX_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using ParamBldPtr = std::unique_ptr<OSSL_PARAM_BLD, Deleter<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using ParamsPtr = std::unique_ptr<OSSL_PARAM, Deleter<OSSL_PARAM, OSSL_PARAM_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;

// Keeps OpenSSL's per-thread error queue as the caller had it: whatever the
// failed attempts of a read or write leave there is dropped on the way out.
class ErrorQueueMark {
public:
    ErrorQueueMark() noexcept { ERR_set_mark(); }
    ~ErrorQueueMark() { ERR_pop_to_mark(); }
    ErrorQueueMark(const ErrorQueueMark&) = delete;
    ErrorQueueMark& operator=(const ErrorQueueMark&) = delete;
};

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_OPENSSL_HANDLES_H
