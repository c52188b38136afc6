// Corvane's error codes as one enum, a std::error_category for them, and a
// function that says what each code means. C++ only.
//
// The enum gathers three families under their existing integer values, which
// never change:
//  - the classes' error cells and setPublicKey's result (0, -2 to -6);
//  - the statuses of the RSA and random-pool functions (0x0401, 0x0406,
//    0x0408, as QV_STATUS_* in <Corvane/rsa.h>);
//  - the key loaders of <Corvane/keys.h> (0x0501 and up);
//  - the envelopes of <Corvane/corvane.hpp> (0x0601).
// So an int32_t that a legacy call wrote converts without translation:
//
//   std::int32_t err = 0;
//   Ref<NSData> out = QVDes3::createDes3DecryptData(data, key, iv, &err);
//   if (!out) std::puts(corvane::errorMeaning(err));          // "the cipher refused ..."
//   std::error_code ec = corvane::ErrorCode(err);             // category "corvane"
//
// errorCategory().message(v) is errorMeaning(v). Codes compare equal to
// portable conditions where one fits: outOfMemory to
// std::errc::not_enough_memory, invalidInput to std::errc::invalid_argument.
// Everything here is thread-safe.
#ifndef CORVANE_ERRORS_H
#define CORVANE_ERRORS_H

#include "CorvaneCxx20.h"

#include <cstdint>
#include <system_error>
#include <type_traits>

#include "CorvaneExport.h"

namespace corvane {

enum class ErrorCode : std::int32_t {
    ok = 0,

    // The classes' codes.
    invalidInput = -2,        // missing or malformed input, no key set, length out of range
    outOfMemory = -3,         // an allocation failed
    encryptionRefused = -4,   // the triple-DES cipher refused an encryption
    decryptionRefused = -5,   // the triple-DES cipher refused a decryption (bad length or padding)
    rsaOperationFailed = -6,  // QVSimpleRSA: the RSA block operation returned a status

    // The RSA and random-pool statuses.
    badData = 0x0401,    // QV_STATUS_BAD_DATA: input not below the modulus, or a malformed block
    badLength = 0x0406,  // QV_STATUS_BAD_LENGTH: message or input too long, or an unusable key size
    notSeeded = 0x0408,  // QV_STATUS_NOT_SEEDED: the random pool still wants seed bytes

    // The key loaders.
    keyUnreadable = 0x0501,    // not an RSA key of the kind asked for, in PEM or DER
    keyTooLarge = 0x0502,      // the modulus has more than 1024 bits
    keyTooSmall = 0x0503,      // the modulus has fewer than 96 bits
    keyEncrypted = 0x0504,     // the private key is encrypted and no passphrase was given
    wrongPassphrase = 0x0505,  // the passphrase is wrong or the key file is damaged: the one answer
                               // for every failure once an encrypted key is decrypted (see keys.h)
    keyIncomplete = 0x0506,    // the key lacks its modulus, an exponent or a CRT value
    multiPrimeKey = 0x0507,    // the key has more than two primes
    keyDoesNotFit = 0x0508,    // a value is longer than its field (a prime above 512 bits)
    keyInvalid = 0x0509,       // not a usable key: even modulus, exponent even or below 3, bad hexadecimal
    keyInconsistent = 0x050A,  // the private key's values do not fit together (n != p * q, wrong dP, ...)
    keyMalformed = 0x050B,     // the DER breaks the rules: negative or non-minimal INTEGER, indefinite
                               // or non-minimal length, bytes after the object, unknown version
    pemDamaged = 0x050C,       // truncated or damaged PEM armour or Base64
    keyOtherAlgorithm = 0x050D,  // a key of another algorithm (EC, DSA, Ed25519, ...)
    notPrivateKey = 0x050E,      // a public key or a certificate where a private key is wanted
    keyTooCostly = 0x0510,       // the key's passphrase derivation runs more iterations than the limit
    keyDamaged = 0x0511,         // the key file is damaged: its DER is shorter than its header says,
                                 // or its ciphertext is empty or not whole cipher blocks

    // The envelopes of <Corvane/corvane.hpp>.
    envelopeRefused = 0x0601,  // the envelope does not open under this key: one answer for every cause
    // Opened as an archive's (EnvelopeRefusal::archive), an envelope that
    // does not open says why:
    envelopeMalformed = 0x0602,       // its parts have lengths no envelope under this key has
    envelopeKeyRefused = 0x0603,      // the wrapped key is not a type-2 block holding 24 bytes
    envelopePaddingRefused = 0x0604,  // the payload's padding is wrong under the unwrapped key
    envelopeKeyNotText = 0x0605,      // the unwrapped key is not 24 hexadecimal characters
};

// The category of every ErrorCode; its name is "corvane".
CORVANE_EXPORT const std::error_category& errorCategory() noexcept;

// One English sentence (no final period) for the code, for every value an
// ErrorCode, a class error cell or a QV_ status can take; "unknown Corvane
// error code" for any other. The text is static: never freed, never changed.
CORVANE_EXPORT const char* errorMeaning(std::int32_t code) noexcept;

inline std::error_code make_error_code(ErrorCode code) noexcept {
    return {static_cast<int>(code), errorCategory()};
}

}  // namespace corvane

template <>
struct std::is_error_code_enum<corvane::ErrorCode> : std::true_type {};

#endif  // CORVANE_ERRORS_H
