// Writing the key records as PEM or DER. The DER, the Base64 and the armour
// are the library's own, built in wiped buffers; libcrypto only derives the
// key and runs the cipher of an encrypted private key.
#include <Corvane/keys.h>

#include <new>
#include <vector>

#include "engine/ct/stack_scrub.h"
#include "modern/keys/checks.h"
#include "modern/keys/der_structures.h"
#include "modern/keys/passphrase/key_encryption.h"
#include "modern/keys/pem_armour.h"
#include "modern/support/openssl_handles.h"
#include "platform/secure_zero.h"

namespace corvane {

namespace {

using detail::DerWriter;

// Runs a write, and clears the stack it used (stack_scrub.h).
template <typename Write>
std::error_code runWrite(Write write) noexcept {
    engine::ScrubStackOnReturn scrub;
    try {
        detail::ErrorQueueMark mark;
        return write();
    } catch (const std::bad_alloc&) {
        return ErrorCode::outOfMemory;
    }
}

// The public key's DER in the format, after the readers' checks.
ErrorCode publicDer(const R_RSA_PUBLIC_KEY& key, RsaKeyFormat format, DerWriter& der) noexcept {
    if (ErrorCode e = detail::checkPublicFields(key.modulus, key.exponent); e != ErrorCode::ok) return e;
    bool written = format == RsaKeyFormat::pkcs1
                       ? detail::writeRsaPublicKey(key.modulus, key.exponent, der)
                       : detail::writeSubjectPublicKeyInfo(key.modulus, key.exponent, der);
    return written ? ErrorCode::ok : ErrorCode::outOfMemory;
}

// The private key's plain DER in the format, after the readers' checks.
ErrorCode privateDer(const R_RSA_PRIVATE_KEY& key, RsaKeyFormat format, DerWriter& der) noexcept {
    if (ErrorCode e = detail::checkPrivateKey(key); e != ErrorCode::ok) return e;
    bool written = format == RsaKeyFormat::pkcs1 ? detail::writeRsaPrivateKey(key, der)
                                                 : detail::writePrivateKeyInfo(key, der);
    return written ? ErrorCode::ok : ErrorCode::outOfMemory;
}

// The bytes into a caller's vector sized once, so no partial copy is left.
void assignBytes(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> result(bytes.begin(), bytes.end());
    secure_zero(out.data(), out.size());
    out.swap(result);
}

}  // namespace

std::error_code rsaPublicKeyToPem(const R_RSA_PUBLIC_KEY& key, std::string& pem,
                                  RsaKeyFormat format) noexcept {
    return runWrite([&]() -> std::error_code {
        DerWriter der;
        if (ErrorCode e = publicDer(key, format, der); e != ErrorCode::ok) return e;
        pem = detail::pemOf(format == RsaKeyFormat::pkcs1 ? "RSA PUBLIC KEY" : "PUBLIC KEY", der.bytes());
        return {};
    });
}

std::error_code rsaPublicKeyToDer(const R_RSA_PUBLIC_KEY& key, std::vector<std::uint8_t>& out,
                                  RsaKeyFormat format) noexcept {
    return runWrite([&]() -> std::error_code {
        DerWriter der;
        if (ErrorCode e = publicDer(key, format, der); e != ErrorCode::ok) return e;
        assignBytes(der.bytes(), out);
        return {};
    });
}

std::error_code rsaPrivateKeyToPem(const R_RSA_PRIVATE_KEY& key, std::string& pem, RsaKeyFormat format,
                                   std::string_view passphrase) noexcept {
    return runWrite([&]() -> std::error_code {
        DerWriter der;
        if (ErrorCode e = privateDer(key, format, der); e != ErrorCode::ok) return e;
        if (passphrase.empty()) {
            pem =
                detail::pemOf(format == RsaKeyFormat::pkcs1 ? "RSA PRIVATE KEY" : "PRIVATE KEY", der.bytes());
            return {};
        }
        if (format == RsaKeyFormat::pkcs1) {
            std::string headers;
            detail::SecretBuffer encrypted;
            if (!detail::encryptTraditional(der.bytes(), passphrase, headers, encrypted))
                return ErrorCode::outOfMemory;
            pem = detail::pemOf("RSA PRIVATE KEY", encrypted.bytes(), headers);
            return {};
        }
        DerWriter encrypted;
        if (!detail::encryptPbes2(der.bytes(), passphrase, encrypted)) return ErrorCode::outOfMemory;
        pem = detail::pemOf("ENCRYPTED PRIVATE KEY", encrypted.bytes());
        return {};
    });
}

std::error_code rsaPrivateKeyToDer(const R_RSA_PRIVATE_KEY& key, std::vector<std::uint8_t>& out,
                                   RsaKeyFormat format, std::string_view passphrase) noexcept {
    return runWrite([&]() -> std::error_code {
        if (!passphrase.empty() && format == RsaKeyFormat::pkcs1) return ErrorCode::invalidInput;
        DerWriter der;
        if (ErrorCode e = privateDer(key, format, der); e != ErrorCode::ok) return e;
        if (passphrase.empty()) {
            assignBytes(der.bytes(), out);
            return {};
        }
        DerWriter encrypted;
        if (!detail::encryptPbes2(der.bytes(), passphrase, encrypted)) return ErrorCode::outOfMemory;
        assignBytes(encrypted.bytes(), out);
        return {};
    });
}

}  // namespace corvane
