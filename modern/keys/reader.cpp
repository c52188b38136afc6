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

#include "engine/ct/stack_scrub.h"
#include "modern/keys/checks.h"
#include "modern/keys/der_structures.h"
#include "modern/keys/passphrase/decrypted_key.h"
#include "modern/keys/passphrase/key_encryption.h"
#include "modern/keys/pem_armour.h"
#include "modern/keys/read_options.h"
#include "modern/keys/record.h"
#include "modern/support/openssl_handles.h"
#include "modern/support/secret_file.h"
#include "platform/secure_zero.h"

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

    // The passphrase for a key encrypted as described; empty when none was
    // given or the caller declined.
    std::span<const char> get(const KeyEncryption& encryption) noexcept {
        if (!asked_) {
            asked_ = true;
            try {
                std::size_t n =
                    passphrase_.given() ? passphrase_.fill(std::span(text_, sizeof text_), encryption) : 0;
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
            return {ErrorCode::keyOtherAlgorithm, nullptr};
        if (!wantPublic && !isPrivateKind(object.kind))
            return {ErrorCode::notPrivateKey, nullptr};
        return {};
    }
    std::string_view rest(reinterpret_cast<const char*>(input.data()), input.size());
    bool sawPublic = false;
    bool sawOther = false;
    for (;;) {
        PemScan scan = detail::nextPemBlock(rest, object.block);
        if (scan == PemScan::damaged)
            return {ErrorCode::pemDamaged, "a BEGIN or END line is cut short or broken"};
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
                               : Verdict{ErrorCode::pemDamaged, "the body between the armour lines does not decode"};
        object.der = decoded.bytes();
        return {};
    }
    // The codes' meanings say all there is to say of these two.
    if (sawOther) return {ErrorCode::keyOtherAlgorithm, nullptr};
    if (sawPublic) return {ErrorCode::notPrivateKey, nullptr};
    return {ErrorCode::keyUnreadable, "no PEM object of an RSA key"};
}

// The key of an encrypted object: its protection read and judged on what
// the file shows (each fault with its own answer), the passphrase asked for
// with the scheme and iteration count, then the decryption, whose every
// fault is one answer (decrypted_key.h).
Verdict readEncrypted(const Object& object, PassphraseSource& passphrase, const KeyReadOptions& options,
                      R_RSA_PRIVATE_KEY& key, KeyStatus& status) noexcept {
    DerFault fault;
    detail::KeyProtection protection;
    const bool traditional = object.armoured && detail::isTraditionallyEncrypted(object.block);
    if (traditional && object.kind == DerKind::encryptedPrivateKeyInfo)
        return {ErrorCode::keyUnreadable, "a traditional encryption around an encrypted key"};
    if (!(traditional ? detail::readTraditionalProtection(object.block, object.der, protection, fault)
                      : detail::readEncryptedPrivateKeyInfo(object.der, protection, fault)))
        return fromFault(fault);
    status.iterations = protection.iterations;
    if (!detail::checkCiphertext(protection, fault)) return fromFault(fault);
    // No count above kMaxKeyIterationLimit reaches a derivation, which takes
    // it as an int: such a file is too costly under any limit.
    if (protection.iterations > options.maxIterations || protection.iterations > kMaxKeyIterationLimit)
        return {ErrorCode::keyTooCostly, "the iteration count is above the limit"};
    std::span<const char> text = passphrase.get(detail::describeProtection(protection));
    if (text.empty()) return {ErrorCode::keyEncrypted, nullptr};
    // A PKCS #8 key decrypts to a PrivateKeyInfo; the traditional encryption
    // keeps the structure its label names.
    const bool pkcs8 = !traditional || object.kind == DerKind::privateKeyInfo;
    const unsigned readings = detail::passphraseReadings(protection, text);
    for (unsigned reading = 0; reading < readings; reading++) {
        SecretBuffer plain;
        ErrorCode decrypted = detail::decryptKeyBlocks(protection, text, reading, plain);
        if (decrypted == ErrorCode::keyUnreadable)
            return {decrypted, "this libcrypto cannot derive the key or run the cipher"};
        if (decrypted != ErrorCode::ok) return {decrypted, nullptr};
        ErrorCode opened = detail::openDecryptedKey(plain.bytes(), detail::cipherBlockSize(protection), pkcs8,
                                                    key, status.modulusBits);
        // Another reading is tried only after a failure, whose answer it shares.
        if (opened != ErrorCode::wrongPassphrase) return {opened, nullptr};
    }
    return {ErrorCode::wrongPassphrase, nullptr};
}

// The record of a plain private key's values: checked in the encoding's
// order, then put larger prime first.
Verdict privateRecordOf(const PrivateValues& values, R_RSA_PRIVATE_KEY& key, KeyStatus& status) noexcept {
    Verdict v;
    if ((v.code = detail::fillPrivateRecord(values, key, status.modulusBits, &v.detail)) != ErrorCode::ok ||
        (v.code = detail::checkPrivateKey(key, &v.detail)) != ErrorCode::ok)
        return v;
    return {detail::putLargerPrimeFirst(key), nullptr};
}

Verdict publicRecordOf(const PublicValues& values, R_RSA_PUBLIC_KEY& key, KeyStatus& status) noexcept {
    Verdict v;
    if ((v.code = detail::fillPublicRecord(values, key, status.modulusBits, &v.detail)) != ErrorCode::ok)
        return v;
    v.code = detail::checkPublicFields(key.modulus, key.exponent, &v.detail);
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

// Runs one read: the record starts and, on failure, ends all zero; the
// stack the read used is cleared (stack_scrub.h).
template <typename Record, typename Read>
KeyStatus runRead(Record& key, Read read) noexcept {
    engine::ScrubStackOnReturn scrub;
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
KeyStatus readFile(const char* path, Record& key, ReadBytes read) noexcept {
    detail::SecretBuffer file;
    if (std::error_code error = detail::readSecretFile(path, file)) {
        secure_zero_object(key);
        return {error, 0, nullptr};
    }
    return read(file.bytes(), key);
}

Verdict readPrivate(Bytes encoded, const KeyPassphrase& passphrase, const KeyReadOptions& options,
                    R_RSA_PRIVATE_KEY& key, KeyStatus& status) {
    secure_zero_object(key);
    SecretBuffer decoded;
    Object object;
    if (Verdict v = locate(encoded, false, decoded, object); v.code != ErrorCode::ok) return v;
    PassphraseSource source(passphrase);
    if (object.kind == DerKind::encryptedPrivateKeyInfo ||
        (object.armoured && detail::isTraditionallyEncrypted(object.block)))
        return readEncrypted(object, source, options, key, status);
    PrivateValues values;
    DerFault fault;
    const bool read = object.kind == DerKind::privateKeyInfo
                          ? detail::readPrivateKeyInfo(object.der, values, fault)
                          : detail::readRsaPrivateKey(object.der, values, fault);
    if (!read) return fromFault(fault);
    return privateRecordOf(values, key, status);
}

}  // namespace

KeyStatus loadRsaPublicKey(std::span<const std::uint8_t> encoded, R_RSA_PUBLIC_KEY& key,
                           const KeyPassphrase& passphrase, const KeyReadOptions& options) noexcept {
    if (KeyStatus refused = detail::refusalOfReadOptions(options, key); refused.error) return refused;
    return runRead(key, [&](KeyStatus& status) -> Verdict {
        SecretBuffer decoded, spki;
        Object object;
        if (Verdict v = locate(encoded, true, decoded, object); v.code != ErrorCode::ok) return v;
        if (isPrivateKind(object.kind)) {
            // A private key serves as well, once it passes every check: its
            // public half is used.
            R_RSA_PRIVATE_KEY full;
            Verdict v = readPrivate(encoded, passphrase, options, full, status);
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
                            const KeyPassphrase& passphrase, const KeyReadOptions& options) noexcept {
    if (KeyStatus refused = detail::refusalOfReadOptions(options, key); refused.error) return refused;
    return runRead(key,
                   [&](KeyStatus& status) { return readPrivate(encoded, passphrase, options, key, status); });
}

KeyStatus loadRsaPublicKeyFile(const char* path, R_RSA_PUBLIC_KEY& key, const KeyPassphrase& passphrase,
                               const KeyReadOptions& options) noexcept {
    if (KeyStatus refused = detail::refusalOfReadOptions(options, key); refused.error) return refused;
    return readFile(path, key,
                    [&](auto bytes, auto& k) { return loadRsaPublicKey(bytes, k, passphrase, options); });
}

KeyStatus loadRsaPrivateKeyFile(const char* path, R_RSA_PRIVATE_KEY& key, const KeyPassphrase& passphrase,
                                const KeyReadOptions& options) noexcept {
    if (KeyStatus refused = detail::refusalOfReadOptions(options, key); refused.error) return refused;
    return readFile(path, key,
                    [&](auto bytes, auto& k) { return loadRsaPrivateKey(bytes, k, passphrase, options); });
}

}  // namespace corvane
