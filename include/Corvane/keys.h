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
// whose CRT step needs that order. The coefficient is checked as the encoding
// gives it (q * qInv = 1 mod p for its own p and q) before it is recomputed
// for the swapped order: a wrong one is refused, never repaired.
//
// Writing: records as PEM or DER, SubjectPublicKeyInfo or PKCS #1 for
// public keys, PKCS #8 or PKCS #1 for private keys, the latter optionally
// encrypted under a passphrase (AES-256-CBC); records as hexadecimal texts.
// A record is checked as the readers check a key before it is written.
//
// Results: every function is noexcept and reports through a std::error_code
// of corvane::errorCategory() (ErrorCode values from 0x0501, invalidInput
// or outOfMemory), or of std::generic_category() for a file that cannot be
// read. On failure the output record is left all zero. Besides the size and
// passphrase codes: keyInconsistent (private values that do not fit
// together), keyMalformed (DER that breaks the rules), pemDamaged (truncated
// or damaged armour or Base64), keyDamaged (DER shorter than its header
// says, or an encrypted key whose ciphertext is empty or not whole blocks),
// keyOtherAlgorithm (an EC, DSA, Ed25519 ... key), notPrivateKey (a public
// key or a certificate given to a private reader), keyInvalid (even
// modulus, exponent even or below 3), invalidInput (a KeyReadOptions whose
// iteration limit lies outside 1 to 2147483647: the caller's fault, not the
// key's).
//
// Encrypted private keys. What the file shows before anything is decrypted
// is public and keeps its precise answer: the structure, the scheme and its
// parameters (keyUnreadable, keyMalformed), the iteration count
// (keyTooCostly above KeyReadOptions::maxIterations, whose default is
// kDefaultMaxKeyIterations; never outOfMemory, however high), a ciphertext
// that is empty or not whole cipher blocks (keyDamaged), or too long for any
// key the records hold (keyTooLarge, modulusBits 0). Once the ciphertext is
// decrypted, every failure (a wrong passphrase, padding that does not check
// out, bytes that are not DER, DER that breaks a rule, a key that is too
// large, of another algorithm or whose values do not fit together) gives one
// answer: wrongPassphrase, no detail, modulusBits 0, after the same steps
// (padding checked in constant time, the DER read and every check of the
// values run whatever failed before them), so that neither the answer nor
// its timing tells a holder of an altered copy anything about the plaintext.
// The passphrase is asked for (a callback is told the scheme and the
// iteration count first) only after the public checks, and derived once:
// twice only for the PKCS #12 derivation under a passphrase that is not
// ASCII, which older writers widened byte by byte, and only when the first
// reading fails.

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

// How an encrypted private key is protected, as the reader finds it before
// it asks for the passphrase. Static texts, for people.
struct KeyEncryption {
    // "PBES2", "pbeWithSHAAnd3-KeyTripleDES-CBC", "pbeWithMD5AndDES-CBC", ...,
    // or "traditional PEM encryption" (a DEK-Info header).
    const char* scheme = "";
    // "PBKDF2 with HMAC-SHA256", "PKCS #12 derivation with SHA-1",
    // "PBKDF1 with MD5", "one round of MD5 (EVP_BytesToKey)".
    const char* derivation = "";
    // "AES-256-CBC", "DES-EDE3-CBC", "DES-EDE-CBC" (two-key), "DES-CBC".
    const char* cipher = "";
    // The derivation's iteration count (1 for the traditional encryption).
    // The PKCS #12 derivation runs it for the key and again for the IV (and
    // both once more under a passphrase that is not ASCII when the first
    // reading fails); a 24-byte key takes two SHA-1 outputs, so three times
    // the count in all.
    std::uint32_t iterations = 0;
};

// The iteration limit of KeyReadOptions unless the caller sets another: above
// what common writers use (OpenSSL writes 2048, PKCS #12 tools 2000 to
// 10,000, guidance for PBKDF2-HMAC-SHA256 asks 600,000), and about 0.3 s of
// one core for PBKDF2-HMAC-SHA256 or the PKCS #12 derivation (twice that
// when a passphrase that is not ASCII is read both ways). A file above it is
// refused in microseconds.
inline constexpr std::uint32_t kDefaultMaxKeyIterations = 1'000'000;

// The highest iteration limit a reader takes, 2^31 - 1: the derivations
// (PBKDF2, PBKDF1, the PKCS #12 derivation) take the count as a signed
// 32-bit integer, in libcrypto and in the writers of these files, so none
// writes a file that asks for more. A key whose count lies above it is too
// costly under every limit (keyTooCostly).
inline constexpr std::uint32_t kMaxKeyIterationLimit = 2'147'483'647;

// How a reader treats an encrypted private key.
struct KeyReadOptions {
    // A key whose passphrase derivation runs more iterations than this is
    // refused with keyTooCostly (KeyStatus::iterations says how many), before
    // the passphrase is asked for or anything is derived. A reader that loads
    // keys it is sent can set a lower limit. The limit must lie in 1 to
    // kMaxKeyIterationLimit (2147483647): every reader refuses any other
    // value with invalidInput, detail "the iteration limit must be 1 to
    // 2147483647", before it reads anything (the file too), whatever the key.
    std::uint32_t maxIterations = kDefaultMaxKeyIterations;
};

// How a reader answers when the private key turns out to be encrypted.
// Refers to the caller's text or callable: keep it alive for the call.
class KeyPassphrase {
public:
    // Writes the passphrase into buffer and returns its length (at most
    // buffer.size()); 0 declines, and the read fails with keyEncrypted.
    // Called at most once per read, and only for an encrypted key whose
    // public parts passed their checks.
    using Callback = std::function<std::size_t(std::span<char> buffer)>;
    // The same, told first how the key is encrypted: it may decline (return
    // 0) a key whose derivation would cost more than it wants to pay, before
    // anything is derived.
    using InformedCallback =
        std::function<std::size_t(std::span<char> buffer, const KeyEncryption& encryption)>;

    // No passphrase: an encrypted key is refused with keyEncrypted; nothing
    // ever prompts on a terminal.
    KeyPassphrase() noexcept = default;
    // This text (an empty one declines, as a callback returning 0 does).
    KeyPassphrase(std::string_view text) noexcept : text_(text), given_(true) {}
    KeyPassphrase(const char* text) noexcept
        : text_(text != nullptr ? std::string_view(text) : std::string_view()), given_(text != nullptr) {}
    KeyPassphrase(const std::string& text) noexcept : KeyPassphrase(std::string_view(text)) {}
    KeyPassphrase(InformedCallback callback)
        : callback_(std::move(callback)), given_(static_cast<bool>(callback_)) {}
    KeyPassphrase(Callback callback) : given_(static_cast<bool>(callback)) {
        if (callback)
            callback_ = [plain = std::move(callback)](std::span<char> buffer, const KeyEncryption&) {
                return plain(buffer);
            };
    }
    template <typename F>
    requires std::is_invocable_r_v<std::size_t, F&, std::span<char>> KeyPassphrase(F callback)
        : KeyPassphrase(Callback(std::move(callback))) {}
    template <typename F>
    requires std::is_invocable_r_v<std::size_t, F&, std::span<char>, KeyEncryption> KeyPassphrase(F callback)
        : KeyPassphrase(InformedCallback(std::move(callback))) {}

    bool given() const noexcept { return given_; }
    // Fills buffer as the callback does, telling it how the key is
    // encrypted; 0 when none was given.
    std::size_t fill(std::span<char> buffer, const KeyEncryption& encryption = {}) const {
        if (callback_) return callback_(buffer, encryption);
        if (!given_ || text_.size() > buffer.size()) return 0;
        // An empty view may hold a null pointer, which memcpy must not get.
        if (!text_.empty()) std::memcpy(buffer.data(), text_.data(), text_.size());
        return text_.size();
    }

private:
    std::string_view text_;
    InformedCallback callback_;
    bool given_ = false;
};

// The outcome of a read: no error and the record filled, or an error and the
// record zeroed. modulusBits is the key's modulus size whenever the key could
// be decoded, also when it was refused for that size (0 otherwise). detail,
// with some refusals, says in a few words what exactly is wrong ("dP is not
// d mod (p - 1)", "p equals q", "a negative INTEGER"); it is a static text,
// never freed, and never holds key material. error.message() stays the
// general sentence of the code. iterations is an encrypted key's iteration
// count whenever its parameters could be read (0 otherwise), also when it
// was refused for that count.
struct KeyStatus {
    std::error_code error;
    unsigned modulusBits = 0;
    const char* detail = nullptr;
    std::uint32_t iterations = 0;
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
                                          const KeyPassphrase& passphrase = {},
                                          const KeyReadOptions& options = {}) noexcept;

// A private key from PEM or DER bytes, in CRT form.
CORVANE_EXPORT KeyStatus loadRsaPrivateKey(std::span<const std::uint8_t> encoded, R_RSA_PRIVATE_KEY& key,
                                           const KeyPassphrase& passphrase = {},
                                           const KeyReadOptions& options = {}) noexcept;

// The same for PEM text held in a string.
inline KeyStatus loadRsaPublicKey(std::string_view pem, R_RSA_PUBLIC_KEY& key,
                                  const KeyPassphrase& passphrase = {},
                                  const KeyReadOptions& options = {}) noexcept {
    return loadRsaPublicKey(std::span(reinterpret_cast<const std::uint8_t*>(pem.data()), pem.size()), key,
                            passphrase, options);
}
inline KeyStatus loadRsaPrivateKey(std::string_view pem, R_RSA_PRIVATE_KEY& key,
                                   const KeyPassphrase& passphrase = {},
                                   const KeyReadOptions& options = {}) noexcept {
    return loadRsaPrivateKey(std::span(reinterpret_cast<const std::uint8_t*>(pem.data()), pem.size()), key,
                             passphrase, options);
}

// The same, reading a whole file; a file that cannot be read gives its errno
// in std::generic_category() ("No such file or directory", ...).
CORVANE_EXPORT KeyStatus loadRsaPublicKeyFile(const char* path, R_RSA_PUBLIC_KEY& key,
                                              const KeyPassphrase& passphrase = {},
                                              const KeyReadOptions& options = {}) noexcept;
CORVANE_EXPORT KeyStatus loadRsaPrivateKeyFile(const char* path, R_RSA_PRIVATE_KEY& key,
                                               const KeyPassphrase& passphrase = {},
                                               const KeyReadOptions& options = {}) noexcept;

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
