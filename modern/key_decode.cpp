// Reading RSA keys from PEM or DER into the key records, through OpenSSL's
// decoders (keys) and X.509 parser (certificates).
#include <Corvane/keys.h>
#include <openssl/core_names.h>
#include <openssl/decoder.h>
#include <openssl/pem.h>

#include <climits>
#include <cstring>
#include <new>
#include <utility>

#include "key_checks.h"
#include "openssl_handles.h"
#include "secret_file.h"
#include "secure_zero.h"

namespace corvane {

namespace {

using detail::BioPtr;
using detail::BnCtxPtr;
using detail::BnPtr;
using detail::PkeyPtr;
using detail::X509Ptr;

// Answers OpenSSL's request for a passphrase from the caller's
// KeyPassphrase, asking it at most once per read, and records what
// happened so that a failed read can say why.
class PassphraseAnswer {
public:
    explicit PassphraseAnswer(const KeyPassphrase* passphrase) noexcept : passphrase_(passphrase) {}
    ~PassphraseAnswer() { secure_zero(text_, sizeof text_); }
    PassphraseAnswer(const PassphraseAnswer&) = delete;
    PassphraseAnswer& operator=(const PassphraseAnswer&) = delete;

    bool asked() const noexcept { return asked_; }
    bool supplied() const noexcept { return length_ != 0; }

    static int callback(char* pass, std::size_t size, std::size_t* length, const OSSL_PARAM*, void* arg) {
        return static_cast<PassphraseAnswer*>(arg)->answer(pass, size, length);
    }

private:
    int answer(char* pass, std::size_t size, std::size_t* length) noexcept {
        asked_ = true;
        if (passphrase_ == nullptr || !passphrase_->given()) return 0;
        if (!filled_) {
            filled_ = true;
            try {
                std::size_t n = passphrase_->fill(std::span(text_, sizeof text_));
                length_ = n <= sizeof text_ ? n : 0;
            } catch (...) {
                // An exception must not cross OpenSSL's C frames: a failing
                // callback declines.
                length_ = 0;
            }
        }
        if (length_ == 0 || length_ > size) return 0;
        std::memcpy(pass, text_, length_);
        *length = length_;
        return 1;
    }

    const KeyPassphrase* passphrase_;
    char text_[1024] = {};
    std::size_t length_ = 0;
    bool filled_ = false;
    bool asked_ = false;
};

// An RSA key of the selection from PEM or DER bytes, or null.
PkeyPtr decodeKey(std::span<const std::uint8_t> bytes, int selection, PassphraseAnswer& answer) {
    EVP_PKEY* pkey = nullptr;
    OSSL_DECODER_CTX* ctx =
        OSSL_DECODER_CTX_new_for_pkey(&pkey, nullptr, nullptr, "RSA", selection, nullptr, nullptr);
    if (ctx == nullptr) return nullptr;
    // Always our callback: without one OpenSSL might prompt on the terminal.
    OSSL_DECODER_CTX_set_passphrase_cb(ctx, PassphraseAnswer::callback, &answer);
    const unsigned char* data = bytes.data();
    std::size_t length = bytes.size();
    int ok = OSSL_DECODER_from_data(ctx, &data, &length);
    OSSL_DECODER_CTX_free(ctx);
    PkeyPtr result(pkey);
    if (ok != 1) result.reset();
    return result;
}

int noPassphrase(char*, int, int, void*) { return 0; }

// The RSA key of an X.509 certificate in PEM or DER, or null.
PkeyPtr keyOfCertificate(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
    X509Ptr cert;
    BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    if (bio) cert.reset(PEM_read_bio_X509_AUX(bio.get(), nullptr, noPassphrase, nullptr));
    if (!cert) {
        const unsigned char* der = bytes.data();
        cert.reset(d2i_X509(nullptr, &der, static_cast<long>(bytes.size())));
    }
    if (!cert) return nullptr;
    PkeyPtr key(X509_get_pubkey(cert.get()));
    if (key && EVP_PKEY_is_a(key.get(), "RSA") != 1) key.reset();
    return key;
}

BnPtr numberOf(const EVP_PKEY* pkey, const char* name) {
    BIGNUM* bn = nullptr;
    if (EVP_PKEY_get_bn_param(pkey, name, &bn) != 1) return nullptr;
    return BnPtr(bn);
}

// Writes the number big-endian, right-aligned in its field; false when it
// does not fit.
template <std::size_t N>
bool putNumber(const BIGNUM* bn, unsigned char (&field)[N]) {
    return BN_num_bytes(bn) <= static_cast<int>(N) && BN_bn2binpad(bn, field, static_cast<int>(N)) == N;
}

// Why nothing could be decoded: the key was encrypted, or is no RSA key.
ErrorCode refusal(const PassphraseAnswer& answer) {
    if (!answer.asked()) return ErrorCode::keyUnreadable;
    return answer.supplied() ? ErrorCode::wrongPassphrase : ErrorCode::keyEncrypted;
}

// The modulus's size, refused above what the records hold.
ErrorCode checkModulusSize(const BIGNUM* n, KeyStatus& status) {
    status.modulusBits = static_cast<unsigned>(BN_num_bits(n));
    return status.modulusBits > MAX_RSA_MODULUS_BITS ? ErrorCode::keyTooLarge : ErrorCode::ok;
}

ErrorCode publicRecordOf(const EVP_PKEY* pkey, R_RSA_PUBLIC_KEY& key, KeyStatus& status) {
    BnPtr n = numberOf(pkey, OSSL_PKEY_PARAM_RSA_N);
    BnPtr e = numberOf(pkey, OSSL_PKEY_PARAM_RSA_E);
    if (!n || !e) return ErrorCode::keyIncomplete;
    if (ErrorCode size = checkModulusSize(n.get(), status); size != ErrorCode::ok) return size;
    if (!putNumber(n.get(), key.modulus) || !putNumber(e.get(), key.exponent))
        return ErrorCode::keyDoesNotFit;
    key.bits = static_cast<std::uint16_t>(status.modulusBits);
    return detail::checkPublicFields(key.modulus, key.exponent);
}

// The CRT values of a two-prime key, with the larger prime first: when the
// encoding has the smaller one first, the primes and their exponents trade
// places and the coefficient is recomputed for the new order.
struct CrtValues {
    BnPtr p, q, dP, dQ, qInv;
};

ErrorCode orderLargerPrimeFirst(CrtValues& crt) {
    if (BN_cmp(crt.p.get(), crt.q.get()) >= 0) return ErrorCode::ok;
    std::swap(crt.p, crt.q);
    std::swap(crt.dP, crt.dQ);
    BnCtxPtr ctx(BN_CTX_secure_new());
    BnPtr qInv(BN_secure_new());
    if (!ctx || !qInv) return ErrorCode::outOfMemory;
    BN_set_flags(crt.q.get(), BN_FLG_CONSTTIME);
    if (BN_mod_inverse(qInv.get(), crt.q.get(), crt.p.get(), ctx.get()) == nullptr)
        return ErrorCode::keyInvalid;
    crt.qInv = std::move(qInv);
    return ErrorCode::ok;
}

ErrorCode privateRecordOf(const EVP_PKEY* pkey, R_RSA_PRIVATE_KEY& key, KeyStatus& status) {
    BnPtr n = numberOf(pkey, OSSL_PKEY_PARAM_RSA_N);
    BnPtr e = numberOf(pkey, OSSL_PKEY_PARAM_RSA_E);
    if (!n || !e) return ErrorCode::keyIncomplete;
    if (ErrorCode size = checkModulusSize(n.get(), status); size != ErrorCode::ok) return size;
    if (numberOf(pkey, OSSL_PKEY_PARAM_RSA_FACTOR3)) return ErrorCode::multiPrimeKey;

    BnPtr d = numberOf(pkey, OSSL_PKEY_PARAM_RSA_D);
    CrtValues crt{numberOf(pkey, OSSL_PKEY_PARAM_RSA_FACTOR1), numberOf(pkey, OSSL_PKEY_PARAM_RSA_FACTOR2),
                  numberOf(pkey, OSSL_PKEY_PARAM_RSA_EXPONENT1),
                  numberOf(pkey, OSSL_PKEY_PARAM_RSA_EXPONENT2),
                  numberOf(pkey, OSSL_PKEY_PARAM_RSA_COEFFICIENT1)};
    if (!d || !crt.p || !crt.q || !crt.dP || !crt.dQ || !crt.qInv) return ErrorCode::keyIncomplete;
    if (ErrorCode order = orderLargerPrimeFirst(crt); order != ErrorCode::ok) return order;

    bool fits = putNumber(n.get(), key.modulus) && putNumber(e.get(), key.publicExponent) &&
                putNumber(d.get(), key.privateExponent) && putNumber(crt.p.get(), key.prime[0]) &&
                putNumber(crt.q.get(), key.prime[1]) && putNumber(crt.dP.get(), key.primeExponent[0]) &&
                putNumber(crt.dQ.get(), key.primeExponent[1]) && putNumber(crt.qInv.get(), key.coefficient);
    if (!fits) return ErrorCode::keyDoesNotFit;
    key.bits = static_cast<std::uint16_t>(status.modulusBits);
    return detail::checkPrivateRecord(key);
}

// Runs one read: the record starts and, on failure, ends all zero.
template <typename Record, typename Read>
KeyStatus runRead(Record& key, Read read) noexcept {
    KeyStatus status;
    secure_zero_object(key);
    try {
        detail::ErrorQueueMark mark;
        if (ErrorCode e = read(status); e != ErrorCode::ok) status.error = e;
    } catch (const std::bad_alloc&) {
        status.error = ErrorCode::outOfMemory;
    }
    if (status.error) secure_zero_object(key);
    return status;
}

// Reads the whole file (into a buffer wiped afterwards), then the key from it.
template <typename Record, typename ReadBytes>
KeyStatus readFile(const char* path, Record& key, const KeyPassphrase& passphrase, ReadBytes read) noexcept {
    detail::SecretBuffer file;
    if (std::error_code error = detail::readSecretFile(path, file)) {
        secure_zero_object(key);
        return {error, 0};
    }
    return read(file.bytes(), key, passphrase);
}

}  // namespace

KeyStatus loadRsaPublicKey(std::span<const std::uint8_t> encoded, R_RSA_PUBLIC_KEY& key,
                           const KeyPassphrase& passphrase) noexcept {
    return runRead(key, [&](KeyStatus& status) {
        // A public form first, with every passphrase request declined, so
        // that the caller's passphrase is asked for only once, below.
        PassphraseAnswer decline(nullptr);
        PkeyPtr pkey = decodeKey(encoded, EVP_PKEY_PUBLIC_KEY, decline);
        if (!pkey) pkey = keyOfCertificate(encoded);
        // A private key file serves as well: its public half is used.
        PassphraseAnswer answer(&passphrase);
        if (!pkey) pkey = decodeKey(encoded, EVP_PKEY_KEYPAIR, answer);
        if (!pkey) return refusal(answer);
        return publicRecordOf(pkey.get(), key, status);
    });
}

KeyStatus loadRsaPrivateKey(std::span<const std::uint8_t> encoded, R_RSA_PRIVATE_KEY& key,
                            const KeyPassphrase& passphrase) noexcept {
    return runRead(key, [&](KeyStatus& status) {
        PassphraseAnswer answer(&passphrase);
        PkeyPtr pkey = decodeKey(encoded, EVP_PKEY_KEYPAIR, answer);
        if (!pkey) return refusal(answer);
        return privateRecordOf(pkey.get(), key, status);
    });
}

KeyStatus loadRsaPublicKeyFile(const char* path, R_RSA_PUBLIC_KEY& key,
                               const KeyPassphrase& passphrase) noexcept {
    return readFile(path, key, passphrase,
                    [](auto bytes, auto& k, const auto& p) { return loadRsaPublicKey(bytes, k, p); });
}

KeyStatus loadRsaPrivateKeyFile(const char* path, R_RSA_PRIVATE_KEY& key,
                                const KeyPassphrase& passphrase) noexcept {
    return readFile(path, key, passphrase,
                    [](auto bytes, auto& k, const auto& p) { return loadRsaPrivateKey(bytes, k, p); });
}

}  // namespace corvane
