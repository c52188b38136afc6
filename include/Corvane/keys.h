// RSA keys in and out of the library's key records. The library parses and
// writes the PEM armour, the Base64 and the DER itself; libcrypto serves for
// PBKDF2, the ciphers, the key checks' numbers and X.509 certificates.
// C++ only (namespace corvane).
//
// Reading (PEM or DER, told apart from the content):
//  - public keys: SubjectPublicKeyInfo ("PUBLIC KEY"), PKCS #1
//    ("RSA PUBLIC KEY"), an X.509 certificate ("CERTIFICATE" or
//    "TRUSTED CERTIFICATE") holding an RSA key, or a private key in any form
//    below, whose public half is taken;
//  - private keys: PKCS #8 ("PRIVATE KEY", or "ENCRYPTED PRIVATE KEY" with a
//    passphrase: PBES2, PBKDF2 with HMAC-SHA1/224/256/384/512,
//    AES-128/192/256-CBC or DES-EDE3-CBC; or the older
//    pbeWithSHAAnd3-KeyTripleDES-CBC, pbeWithSHAAnd2-KeyTripleDES-CBC,
//    pbeWithMD5AndDES-CBC and pbeWithSHA1AndDES-CBC, the RC2 and RC4 ones
//    being refused as keyUnreadable) and PKCS #1 ("RSA PRIVATE KEY",
//    plain or with the traditional DEK-Info encryption under the same
//    ciphers), two primes only;
//  - public keys from the two hexadecimal texts QVSimpleRSA::setPublicKey
//    takes.
// PEM text outside the armour is ignored; of several armoured objects the
// first one of a kind the reader takes is read. The DER must be strict:
// negative or non-minimal INTEGERs, indefinite or non-minimal lengths, bytes
// after the object and unknown versions are refused (keyMalformed).
// Every reader checks the key the same way: a modulus of 96 to 1024 bits
// (the records hold at most 1024; below 96 a PKCS #1 v1.5 block has no room),
// odd, and an odd public exponent of at least 3 that fits its field. A
// private key (also one given to a public reader) must hold together:
// n = p * q, p != q, both odd and probably prime, dP = d mod (p - 1),
// dQ = d mod (q - 1), q * qInv = 1 (mod p), e * d = 1 modulo p - 1 and
// q - 1 (keyInconsistent otherwise), since signing with a key whose values
// do not fit gives a wrong signature that can reveal a prime. The record's bits
// is the modulus's bit count. In a private record prime[0] is always the
// larger prime (swapped, with the prime exponents and the coefficient, when
// the encoding has the smaller one first), so the record also suits peers
// whose CRT step needs that order.
//
// Writing: records as PEM or DER, SubjectPublicKeyInfo or PKCS #1 for
// public keys, PKCS #8 or PKCS #1 for private keys, the latter optionally
// encrypted under a passphrase (AES-256-CBC); records as hexadecimal texts.
// A record is checked as the readers check a key before it is written.
//
// Results: every function is noexcept and reports through a std::error_code
// of corvane::errorCategory() (ErrorCode values from 0x0501, or
// outOfMemory), or of std::generic_category() for a file that cannot be
// read. On failure the output record is left all zero. Besides the size and
// passphrase codes: keyInconsistent (private values that do not fit
// together), keyMalformed (DER that breaks the rules), pemDamaged (truncated
// or damaged armour or Base64), keyOtherAlgorithm (an EC, DSA, Ed25519 ...
// key), notPrivateKey (a public key or a certificate given to a private
// reader), keyInvalid (even modulus, exponent even or below 3).
//
// Secrets: the private record is the caller's to wipe (secure_zero or
// RsaPrivateKey of <Corvane/corvane.hpp>, which does it). Every buffer the
// library fills on the way (file bytes, decoded and decrypted DER, derived
// keys, OpenSSL numbers, the passphrase copy, encoder output) is wiped before
// it is freed, and libcrypto never holds a whole encoded private key. The
// PEM or DER of a private key returned to the caller is a secret too.
//
// Threads: no shared state; any number of calls may run at once.
#ifndef CORVANE_KEYS_H
#define CORVANE_KEYS_H

#include "CorvaneCxx20.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

#include "CorvaneExport.h"
#include "errors.h"
#include "rsa.h"

namespace corvane {

// How a reader answers when the private key turns out to be encrypted.
// Refers to the caller's text or callable: keep it alive for the call.
class KeyPassphrase {
public:
    // Writes the passphrase into buffer and returns its length (at most
    // buffer.size()); 0 declines, and the read fails with keyEncrypted.
    // Called at most once per read, and only for an encrypted key.
    using Callback = std::function<std::size_t(std::span<char> buffer)>;

    // No passphrase: an encrypted key is refused with keyEncrypted; nothing
    // ever prompts on a terminal.
    KeyPassphrase() noexcept = default;
    // This text (an empty one declines, as a callback returning 0 does).
    KeyPassphrase(std::string_view text) noexcept : text_(text), given_(true) {}
    KeyPassphrase(const char* text) noexcept
        : text_(text != nullptr ? std::string_view(text) : std::string_view()), given_(text != nullptr) {}
    KeyPassphrase(const std::string& text) noexcept : KeyPassphrase(std::string_view(text)) {}
    KeyPassphrase(Callback callback) : callback_(std::move(callback)), given_(static_cast<bool>(callback_)) {}
    template <typename F>
    requires std::is_invocable_r_v<std::size_t, F&, std::span<char>> KeyPassphrase(F callback)
        : KeyPassphrase(Callback(std::move(callback))) {}

    bool given() const noexcept { return given_; }
    // Fills buffer as the callback does; 0 when none was given.
    std::size_t fill(std::span<char> buffer) const {
        if (callback_) return callback_(buffer);
        if (!given_ || text_.size() > buffer.size()) return 0;
        // An empty view may hold a null pointer, which memcpy must not get.
        if (!text_.empty()) std::memcpy(buffer.data(), text_.data(), text_.size());
        return text_.size();
    }

private:
    std::string_view text_;
    Callback callback_;
    bool given_ = false;
};

// The outcome of a read: no error and the record filled, or an error and the
// record zeroed. modulusBits is the key's modulus size whenever the key could
// be decoded, also when it was refused for that size (0 otherwise). detail,
// with some refusals, says in a few words what exactly is wrong ("dP is not
// d mod (p - 1)", "p equals q", "a negative INTEGER"); it is a static text,
// never freed, and never holds key material. error.message() stays the
// general sentence of the code.
struct KeyStatus {
    std::error_code error;
    unsigned modulusBits = 0;
    const char* detail = nullptr;
    explicit operator bool() const noexcept { return !error; }
};

// The PEM structures of the writers.
enum class RsaKeyFormat : unsigned char {
    standard,  // public: SubjectPublicKeyInfo ("PUBLIC KEY"); private: PKCS #8 ("PRIVATE KEY")
    pkcs1,     // "RSA PUBLIC KEY" / "RSA PRIVATE KEY"
};

// The hexadecimal form: upper-case digits, big-endian, an even count with no
// leading zero byte (QVSimpleRSA::setPublicKey reads exactly this).
struct RsaHexKey {
    std::string modulus;
    std::string exponent;
};

// ---- reading --------------------------------------------------------------

// A public key from PEM or DER bytes (any public form listed above, or a
// private key; the passphrase serves an encrypted private key).
CORVANE_EXPORT KeyStatus loadRsaPublicKey(std::span<const std::uint8_t> encoded, R_RSA_PUBLIC_KEY& key,
                                          const KeyPassphrase& passphrase = {}) noexcept;

// A private key from PEM or DER bytes, in CRT form.
CORVANE_EXPORT KeyStatus loadRsaPrivateKey(std::span<const std::uint8_t> encoded, R_RSA_PRIVATE_KEY& key,
                                           const KeyPassphrase& passphrase = {}) noexcept;

// The same for PEM text held in a string.
inline KeyStatus loadRsaPublicKey(std::string_view pem, R_RSA_PUBLIC_KEY& key,
                                  const KeyPassphrase& passphrase = {}) noexcept {
    return loadRsaPublicKey(std::span(reinterpret_cast<const std::uint8_t*>(pem.data()), pem.size()), key,
                            passphrase);
}
inline KeyStatus loadRsaPrivateKey(std::string_view pem, R_RSA_PRIVATE_KEY& key,
                                   const KeyPassphrase& passphrase = {}) noexcept {
    return loadRsaPrivateKey(std::span(reinterpret_cast<const std::uint8_t*>(pem.data()), pem.size()), key,
                             passphrase);
}

// The same, reading a whole file; a file that cannot be read gives its errno
// in std::generic_category() ("No such file or directory", ...).
CORVANE_EXPORT KeyStatus loadRsaPublicKeyFile(const char* path, R_RSA_PUBLIC_KEY& key,
                                              const KeyPassphrase& passphrase = {}) noexcept;
CORVANE_EXPORT KeyStatus loadRsaPrivateKeyFile(const char* path, R_RSA_PRIVATE_KEY& key,
                                               const KeyPassphrase& passphrase = {}) noexcept;

// A public key from two hexadecimal texts (digits of either case; an odd
// count reads as if a '0' led). Unlike setPublicKey, any other character is
// refused (keyInvalid), and bits is the modulus's true bit count, where
// setPublicKey records 512 for every modulus text of up to 128 digits.
CORVANE_EXPORT KeyStatus rsaPublicKeyFromHex(std::string_view modulus, std::string_view exponent,
                                             R_RSA_PUBLIC_KEY& key) noexcept;

// ---- writing --------------------------------------------------------------

// The modulus and exponent fields as hexadecimal texts. keyInvalid for an
// all-zero modulus or exponent.
CORVANE_EXPORT std::error_code rsaPublicKeyToHex(const R_RSA_PUBLIC_KEY& key, RsaHexKey& hex) noexcept;

// The key as PEM text (a line feed after every line). The record is checked
// as the readers check a key (a private record must also hold d, both
// primes, both prime exponents and the coefficient, keyIncomplete, and its
// values must fit together, keyInconsistent).
CORVANE_EXPORT std::error_code rsaPublicKeyToPem(const R_RSA_PUBLIC_KEY& key, std::string& pem,
                                                 RsaKeyFormat format = RsaKeyFormat::standard) noexcept;
// With a non-empty passphrase the key is encrypted with AES-256-CBC:
// "ENCRYPTED PRIVATE KEY" (PKCS #8, PBES2) or, for pkcs1, the traditional
// "RSA PRIVATE KEY" with a DEK-Info header.
CORVANE_EXPORT std::error_code rsaPrivateKeyToPem(const R_RSA_PRIVATE_KEY& key, std::string& pem,
                                                  RsaKeyFormat format = RsaKeyFormat::standard,
                                                  std::string_view passphrase = {}) noexcept;

// The same structures as DER bytes. A passphrase gives the DER of an
// "ENCRYPTED PRIVATE KEY" and only suits the standard format (invalidInput
// with pkcs1, whose encryption exists only as PEM headers).
CORVANE_EXPORT std::error_code rsaPublicKeyToDer(const R_RSA_PUBLIC_KEY& key, std::vector<std::uint8_t>& der,
                                                 RsaKeyFormat format = RsaKeyFormat::standard) noexcept;
CORVANE_EXPORT std::error_code rsaPrivateKeyToDer(const R_RSA_PRIVATE_KEY& key, std::vector<std::uint8_t>& der,
                                                  RsaKeyFormat format = RsaKeyFormat::standard,
                                                  std::string_view passphrase = {}) noexcept;

// Every field of the key as text, laid out and named as `openssl rsa -text
// -noout` (and `-pubin`) prints it: "Public-Key: (N bit)", then Modulus and
// Exponent; "Private-Key: (N bit, 2 primes)", then modulus, publicExponent,
// privateExponent, prime1, prime2, exponent1, exponent2, coefficient. A
// number of up to 8 bytes is printed as "decimal (0xhex)", a longer one as
// lines of at most 15 colon-separated hexadecimal bytes, indented by four
// blanks, with a 00 ahead of a leading byte of 0x80 or more. The private
// record's larger prime is prime1 (see above). The record is checked as
// the PEM writers check it. The private text is a secret: wipe it when done.
CORVANE_EXPORT std::error_code rsaPublicKeyToText(const R_RSA_PUBLIC_KEY& key, std::string& text) noexcept;
CORVANE_EXPORT std::error_code rsaPrivateKeyToText(const R_RSA_PRIVATE_KEY& key, std::string& text) noexcept;

}  // namespace corvane

#endif  // CORVANE_KEYS_H
