// The key writers' structures as DER: the PEM writers' text with its armour
// lines taken off and its Base64 body decoded by the library's own coder.
// Every intermediate (the PEM text, its body) is wiped, since for a private
// key each holds the key.
#include <Corvane/keys.h>

#include <Corvane/corvane.hpp>
#include <new>

#include "secure_zero.h"

namespace corvane {

namespace {

// The text between the "-----BEGIN ...-----" and "-----END ...-----"
// lines. The writers put no headers in the structures asked for here.
std::string_view pemBody(std::string_view pem) {
    std::size_t begin = pem.find('\n');
    std::size_t end = pem.find("-----END ");
    if (pem.rfind("-----BEGIN ", 0) != 0 || begin == std::string_view::npos ||
        end == std::string_view::npos || end < begin)
        return {};
    return pem.substr(begin + 1, end - begin - 1);
}

// Decodes the PEM text's body into der; wipes the text.
std::error_code derOf(std::string& pem, std::error_code written, std::vector<std::uint8_t>& der) noexcept {
    struct Wipe {
        std::string& text;
        ~Wipe() { secure_zero(text.data(), text.size()); }
    } wipe{pem};
    if (written) return written;
    std::string_view body = pemBody(pem);
    if (body.empty()) return ErrorCode::keyInvalid;
    std::error_code error;
    std::vector<std::uint8_t> decoded =
        v1::base64Decode(body, v1::Base64Alphabet::standard, v1::Base64Padding::padded, error);
    if (error) {
        secure_zero(decoded.data(), decoded.capacity());
        return error;
    }
    secure_zero(der.data(), der.capacity());
    der.swap(decoded);
    secure_zero(decoded.data(), decoded.capacity());
    return ErrorCode::ok;
}

}  // namespace

std::error_code rsaPublicKeyToDer(const R_RSA_PUBLIC_KEY& key, std::vector<std::uint8_t>& der,
                                  RsaKeyFormat format) noexcept {
    std::string pem;
    std::error_code written = rsaPublicKeyToPem(key, pem, format);
    return derOf(pem, written, der);
}

std::error_code rsaPrivateKeyToDer(const R_RSA_PRIVATE_KEY& key, std::vector<std::uint8_t>& der,
                                   RsaKeyFormat format, std::string_view passphrase) noexcept {
    if (format == RsaKeyFormat::pkcs1 && !passphrase.empty()) return ErrorCode::invalidInput;
    std::string pem;
    std::error_code written = rsaPrivateKeyToPem(key, pem, format, passphrase);
    return derOf(pem, written, der);
}

}  // namespace corvane
