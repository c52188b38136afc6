// Reading RSA keys from PEM or DER into the key records. The armour, the
// Base64 and the DER are parsed here, every decoded or decrypted byte lands
// in a wiped buffer, and libcrypto only derives keys, runs ciphers and
// parses certificates (public data).
#include <Corvane/keys.h>
#include <openssl/x509.h>

#include <climits>
#include <cstring>
#include <new>
#include <utility>

#include "key_checks.h"
#include "key_crypt.h"
#include "key_der.h"
#include "openssl_handles.h"
#include "pem_armour.h"
#include "secret_file.h"
#include "secure_zero.h"

namespace corvane {

namespace {

using detail::Bytes;
using detail::DerFault;
using detail::DerKind;
using detail::PemBlock;
using detail::PemScan;
using detail::PrivateValues;
using detail::PublicValues;
using detail::SecretBuffer;

// Asks the caller's KeyPassphrase at most once per read, only when an
// encrypted key needs it, and keeps the answer in a wiped buffer.
class PassphraseSource {
public:
    explicit PassphraseSource(const KeyPassphrase& passphrase) noexcept : passphrase_(passphrase) {}
    ~PassphraseSource() { secure_zero(text_, sizeof text_); }
    PassphraseSource(const PassphraseSource&) = delete;
    PassphraseSource& operator=(const PassphraseSource&) = delete;

    // The passphrase; empty when none was given or the caller declined.
    std::span<const char> get() noexcept {
        if (!asked_) {
            asked_ = true;
            try {
                std::size_t n = passphrase_.given() ? passphrase_.fill(std::span(text_, sizeof text_)) : 0;
                length_ = n <= sizeof text_ ? n : 0;
            } catch (...) {
                // A failing callback declines.
                length_ = 0;
            }
        }
        return {text_, length_};
    }

private:
    const KeyPassphrase& passphrase_;
    char text_[1024] = {};
    std::size_t length_ = 0;
    bool asked_ = false;
};

// One read's outcome so far: the code and what exactly is wrong.
struct Verdict {
    ErrorCode code = ErrorCode::ok;
    const char* detail = nullptr;
};

Verdict fromFault(const DerFault& fault) noexcept { return {fault.code, fault.detail}; }

bool isPrivateLabel(std::string_view label) noexcept {
    return label == "PRIVATE KEY" || label == "ENCRYPTED PRIVATE KEY" || label == "RSA PRIVATE KEY";
}
bool isPublicLabel(std::string_view label) noexcept {
    return label == "PUBLIC KEY" || label == "RSA PUBLIC KEY" || label == "CERTIFICATE" ||
           label == "X509 CERTIFICATE" || label == "TRUSTED CERTIFICATE";
}
// Another algorithm's key ("EC PRIVATE KEY", "DSA PRIVATE KEY", ...).
bool isOtherKeyLabel(std::string_view label) noexcept {
    return !isPrivateLabel(label) && !isPublicLabel(label) &&
           (label.ends_with("PRIVATE KEY") || label.ends_with("PUBLIC KEY") || label.ends_with("PARAMETERS"));
}

DerKind kindOfLabel(std::string_view label) noexcept {
    if (label == "PRIVATE KEY") return DerKind::privateKeyInfo;
    if (label == "ENCRYPTED PRIVATE KEY") return DerKind::encryptedPrivateKeyInfo;
    if (label == "RSA PRIVATE KEY") return DerKind::rsaPrivateKey;
    if (label == "PUBLIC KEY") return DerKind::subjectPublicKeyInfo;
    if (label == "RSA PUBLIC KEY") return DerKind::rsaPublicKey;
    return DerKind::certificate;
}

bool isPrivateKind(DerKind kind) noexcept {
    return kind == DerKind::privateKeyInfo || kind == DerKind::encryptedPrivateKeyInfo ||
           kind == DerKind::rsaPrivateKey;
}

// The object a reader works on: the DER (in the input or in a decoded
// buffer), what it is, and its PEM block when it came armoured.
struct Object {
    Bytes der;
    DerKind kind = DerKind::unknown;
    PemBlock block;
    bool armoured = false;
    bool trusted = false;  // a "TRUSTED CERTIFICATE"
};

// Finds the object to read: for PEM the first block the wanted labels take
// (its Base64 decoded into decoded), for DER the input itself.
Verdict locate(Bytes input, bool wantPublic, SecretBuffer& decoded, Object& object) noexcept {
    if (!detail::holdsPem(input)) {
        DerFault fault;
        object.der = input;
        object.kind = detail::derKindOf(input, fault);
        if (object.kind == DerKind::unknown) return fromFault(fault);
        if (object.kind == DerKind::otherPrivateKey)
            return {ErrorCode::keyOtherAlgorithm, "the key is not an RSA key"};
        if (!wantPublic && !isPrivateKind(object.kind))
            return {ErrorCode::notPrivateKey, "a public key or a certificate"};
        return {};
    }
    std::string_view rest(reinterpret_cast<const char*>(input.data()), input.size());
    bool sawPublic = false;
    bool sawOther = false;
    for (;;) {
        PemScan scan = detail::nextPemBlock(rest, object.block);
        if (scan == PemScan::damaged) return {ErrorCode::pemDamaged, "the PEM armour is cut short or broken"};
        if (scan == PemScan::none) break;
        std::string_view label = object.block.label;
        bool wanted = isPrivateLabel(label) || (wantPublic && isPublicLabel(label));
        sawPublic = sawPublic || isPublicLabel(label);
        sawOther = sawOther || isOtherKeyLabel(label);
        if (!wanted) continue;
        object.armoured = true;
        object.kind = kindOfLabel(label);
        object.trusted = label == "TRUSTED CERTIFICATE";
        bool outOfMemory = false;
        if (!detail::decodePemBody(object.block, decoded, outOfMemory))
            return outOfMemory ? Verdict{ErrorCode::outOfMemory, nullptr}
                               : Verdict{ErrorCode::pemDamaged, "the Base64 text is damaged"};
        object.der = decoded.bytes();
        return {};
    }
    if (sawOther) return {ErrorCode::keyOtherAlgorithm, "the key is not an RSA key"};
    if (sawPublic) return {ErrorCode::notPrivateKey, "a public key or a certificate"};
    return {ErrorCode::keyUnreadable, "no PEM object of an RSA key"};
}

// Decrypts into plain and checks that the result is of the kind expected;
// a result that is not (the usual outcome of a wrong passphrase whose
// padding happened to check out) counts as a wrong passphrase.
Verdict checkDecrypted(ErrorCode decrypted, const char* why, const SecretBuffer& plain, DerKind expected,
                       Object& object) noexcept {
    if (decrypted != ErrorCode::ok) return {decrypted, why};
    DerFault fault;
    DerKind kind = detail::derKindOf(plain.bytes(), fault);
    // A recognisable SEQUENCE that breaks a rule is reported as such.
    if (kind == DerKind::unknown && fault.code == ErrorCode::keyMalformed) return fromFault(fault);
    if (kind != expected) return {ErrorCode::wrongPassphrase, "the decrypted bytes are no key"};
    object.der = plain.bytes();
    object.kind = expected;
    return {};
}

// The private values of a private object, decrypting it (into plain) when
// it is encrypted.
Verdict privateValuesOf(Object& object, PassphraseSource& passphrase, SecretBuffer& plain,
                        PrivateValues& values) noexcept {
    if (object.armoured && detail::isTraditionallyEncrypted(object.block)) {
        std::span<const char> text = passphrase.get();
        if (text.empty()) return {ErrorCode::keyEncrypted, "the key is encrypted"};
        const char* why = nullptr;
        ErrorCode decrypted = detail::decryptTraditional(object.block, object.der, text, plain, why);
        if (Verdict v = checkDecrypted(decrypted, why, plain, object.kind, object); v.code != ErrorCode::ok)
            return v;
    } else if (object.kind == DerKind::encryptedPrivateKeyInfo) {
        DerFault fault;
        detail::EncryptedKeyParameters parameters;
        if (!detail::readEncryptedPrivateKeyInfo(object.der, parameters, fault)) return fromFault(fault);
        std::span<const char> text = passphrase.get();
        if (text.empty()) return {ErrorCode::keyEncrypted, "the key is encrypted"};
        const char* why = nullptr;
        ErrorCode decrypted = detail::decryptPrivateKeyInfo(parameters, text, plain, why);
        if (Verdict v = checkDecrypted(decrypted, why, plain, DerKind::privateKeyInfo, object);
            v.code != ErrorCode::ok)
            return v;
    }
    const bool decrypted = plain.bytes().data() != nullptr && object.der.data() == plain.bytes().data();
    DerFault fault;
    bool read = object.kind == DerKind::privateKeyInfo ? detail::readPrivateKeyInfo(object.der, values, fault)
                                                       : detail::readRsaPrivateKey(object.der, values, fault);
    if (read) return {};
    // Decrypted bytes of another structure are a wrong passphrase's garbage.
    if (decrypted && fault.code == ErrorCode::keyUnreadable)
        return {ErrorCode::wrongPassphrase, "the decrypted bytes are no key"};
    return fromFault(fault);
}

// Copies a big-endian value right-aligned into its (zeroed) field.
template <std::size_t N>
bool putValue(Bytes value, unsigned char (&field)[N]) noexcept {
    if (value.size() > N) return false;
    if (!value.empty()) std::memcpy(field + (N - value.size()), value.data(), value.size());
    return true;
}

ErrorCode modulusSize(Bytes n, KeyStatus& status) noexcept {
    status.modulusBits = detail::significantBits(n);
    return status.modulusBits > MAX_RSA_MODULUS_BITS ? ErrorCode::keyTooLarge : ErrorCode::ok;
}

Verdict publicRecordOf(const PublicValues& values, R_RSA_PUBLIC_KEY& key, KeyStatus& status) noexcept {
    if (ErrorCode e = modulusSize(values.n, status); e != ErrorCode::ok) return {e, nullptr};
    if (!putValue(values.n, key.modulus) || !putValue(values.e, key.exponent))
        return {ErrorCode::keyDoesNotFit, "the public exponent is longer than its field"};
    key.bits = static_cast<std::uint16_t>(status.modulusBits);
    Verdict v;
    v.code = detail::checkPublicFields(key.modulus, key.exponent, &v.detail);
    return v;
}

// Whether the big-endian magnitude a is smaller than b.
bool smaller(Bytes a, Bytes b) noexcept {
    if (a.size() != b.size()) return a.size() < b.size();
    return std::memcmp(a.data(), b.data(), a.size()) < 0;
}

// The coefficient for primes that traded places: the inverse of the new q
// (the old p) modulo the new p (the old q).
ErrorCode recomputeCoefficient(R_RSA_PRIVATE_KEY& key) noexcept {
    detail::BnCtxPtr ctx(BN_CTX_secure_new());
    detail::BnPtr p(BN_secure_new()), q(BN_secure_new()), inverse(BN_secure_new());
    if (!ctx || !p || !q || !inverse || !BN_bin2bn(key.prime[0], MAX_RSA_PRIME_LEN, p.get()) ||
        !BN_bin2bn(key.prime[1], MAX_RSA_PRIME_LEN, q.get()))
        return ErrorCode::outOfMemory;
    BN_set_flags(p.get(), BN_FLG_CONSTTIME);
    BN_set_flags(q.get(), BN_FLG_CONSTTIME);
    if (BN_mod_inverse(inverse.get(), q.get(), p.get(), ctx.get()) == nullptr)
        return ErrorCode::keyInconsistent;
    if (BN_bn2binpad(inverse.get(), key.coefficient, MAX_RSA_PRIME_LEN) != MAX_RSA_PRIME_LEN)
        return ErrorCode::outOfMemory;
    return ErrorCode::ok;
}

Verdict privateRecordOf(const PrivateValues& values, R_RSA_PRIVATE_KEY& key, KeyStatus& status) noexcept {
    if (ErrorCode e = modulusSize(values.n, status); e != ErrorCode::ok) return {e, nullptr};
    // The larger prime goes first; the coefficient then is recomputed.
    const bool swap = smaller(values.p, values.q);
    bool fits = putValue(values.n, key.modulus) && putValue(values.e, key.publicExponent) &&
                putValue(values.d, key.privateExponent) &&
                putValue(swap ? values.q : values.p, key.prime[0]) &&
                putValue(swap ? values.p : values.q, key.prime[1]) &&
                putValue(swap ? values.dQ : values.dP, key.primeExponent[0]) &&
                putValue(swap ? values.dP : values.dQ, key.primeExponent[1]) &&
                putValue(values.qInv, key.coefficient);
    if (!fits) return {ErrorCode::keyDoesNotFit, "a value is longer than its field"};
    key.bits = static_cast<std::uint16_t>(status.modulusBits);
    Verdict v;
    if ((v.code = detail::checkPrivateRecord(key, &v.detail)) != ErrorCode::ok) return v;
    if (swap) {
        secure_zero(key.coefficient, sizeof key.coefficient);
        if ((v.code = recomputeCoefficient(key)) != ErrorCode::ok) {
            v.detail = "p and q have a common factor";
            return v;
        }
    }
    v.code = detail::checkPrivateKey(key, &v.detail);
    return v;
}

// The public values of a certificate, through OpenSSL's X.509 parser; the
// key's SubjectPublicKeyInfo is then read as any other (into spki).
Verdict certificateValues(const Object& object, SecretBuffer& spki, PublicValues& values) noexcept {
    if (object.der.size() > static_cast<std::size_t>(LONG_MAX)) return {ErrorCode::keyUnreadable, nullptr};
    const unsigned char* at = object.der.data();
    long length = static_cast<long>(object.der.size());
    detail::X509Ptr cert(object.trusted ? d2i_X509_AUX(nullptr, &at, length)
                                        : d2i_X509(nullptr, &at, length));
    if (!cert) return {ErrorCode::keyUnreadable, "not an X.509 certificate"};
    if (at != object.der.data() + object.der.size())
        return {ErrorCode::keyMalformed, "bytes after the DER object"};
    unsigned char* encoded = nullptr;
    int size = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert.get()), &encoded);
    if (size <= 0) return {ErrorCode::keyUnreadable, "the certificate holds no key"};
    bool copied = spki.append(encoded, static_cast<std::size_t>(size));
    OPENSSL_free(encoded);
    if (!copied) return {ErrorCode::outOfMemory, nullptr};
    DerFault fault;
    if (!detail::readSubjectPublicKeyInfo(spki.bytes(), values, fault)) return fromFault(fault);
    return {};
}

// Runs one read: the record starts and, on failure, ends all zero.
template <typename Record, typename Read>
KeyStatus runRead(Record& key, Read read) noexcept {
    KeyStatus status;
    secure_zero_object(key);
    try {
        detail::ErrorQueueMark mark;
        Verdict v = read(status);
        if (v.code != ErrorCode::ok) {
            status.error = v.code;
            status.detail = v.detail;
        }
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
        return {error, 0, nullptr};
    }
    return read(file.bytes(), key, passphrase);
}

Verdict readPrivate(Bytes encoded, const KeyPassphrase& passphrase, R_RSA_PRIVATE_KEY& key,
                    KeyStatus& status) {
    secure_zero_object(key);
    SecretBuffer decoded, plain;
    Object object;
    if (Verdict v = locate(encoded, false, decoded, object); v.code != ErrorCode::ok) return v;
    PassphraseSource source(passphrase);
    PrivateValues values;
    if (Verdict v = privateValuesOf(object, source, plain, values); v.code != ErrorCode::ok) return v;
    return privateRecordOf(values, key, status);
}

}  // namespace

KeyStatus loadRsaPublicKey(std::span<const std::uint8_t> encoded, R_RSA_PUBLIC_KEY& key,
                           const KeyPassphrase& passphrase) noexcept {
    return runRead(key, [&](KeyStatus& status) -> Verdict {
        SecretBuffer decoded, spki;
        Object object;
        if (Verdict v = locate(encoded, true, decoded, object); v.code != ErrorCode::ok) return v;
        if (isPrivateKind(object.kind)) {
            // A private key serves as well, once it passes every check: its
            // public half is used.
            R_RSA_PRIVATE_KEY full;
            Verdict v = readPrivate(encoded, passphrase, full, status);
            if (v.code == ErrorCode::ok) {
                std::memcpy(key.modulus, full.modulus, sizeof key.modulus);
                std::memcpy(key.exponent, full.publicExponent, sizeof key.exponent);
                key.bits = full.bits;
            }
            secure_zero_object(full);
            return v;
        }
        PublicValues values;
        DerFault fault;
        if (object.kind == DerKind::certificate) {
            if (Verdict v = certificateValues(object, spki, values); v.code != ErrorCode::ok) return v;
        } else if (!(object.kind == DerKind::subjectPublicKeyInfo
                         ? detail::readSubjectPublicKeyInfo(object.der, values, fault)
                         : detail::readRsaPublicKey(object.der, values, fault))) {
            return fromFault(fault);
        }
        return publicRecordOf(values, key, status);
    });
}

KeyStatus loadRsaPrivateKey(std::span<const std::uint8_t> encoded, R_RSA_PRIVATE_KEY& key,
                            const KeyPassphrase& passphrase) noexcept {
    return runRead(key, [&](KeyStatus& status) { return readPrivate(encoded, passphrase, key, status); });
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
