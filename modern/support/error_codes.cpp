#include <Corvane/errors.h>
#include <Corvane/rsa.h>

#include <string>

namespace corvane {

// The enum restates the C statuses; it must never drift from them.
static_assert(static_cast<std::int32_t>(ErrorCode::badData) == QV_STATUS_BAD_DATA);
static_assert(static_cast<std::int32_t>(ErrorCode::badLength) == QV_STATUS_BAD_LENGTH);
static_assert(static_cast<std::int32_t>(ErrorCode::notSeeded) == QV_STATUS_NOT_SEEDED);

namespace {

class CorvaneCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "corvane"; }
    std::string message(int code) const override { return errorMeaning(static_cast<std::int32_t>(code)); }
    std::error_condition default_error_condition(int code) const noexcept override {
        switch (static_cast<ErrorCode>(code)) {
            case ErrorCode::outOfMemory:
                return std::errc::not_enough_memory;
            case ErrorCode::invalidInput:
                return std::errc::invalid_argument;
            default:
                return {code, *this};
        }
    }
};

}  // namespace

const std::error_category& errorCategory() noexcept {
    static const CorvaneCategory category;
    return category;
}

const char* errorMeaning(std::int32_t code) noexcept {
    switch (static_cast<ErrorCode>(code)) {
        case ErrorCode::ok:
            return "success";
        case ErrorCode::invalidInput:
            return "missing or malformed input";
        case ErrorCode::outOfMemory:
            return "an allocation failed";
        case ErrorCode::encryptionRefused:
            return "the cipher refused the encryption";
        case ErrorCode::decryptionRefused:
            return "the cipher refused the decryption (wrong length, key or padding)";
        case ErrorCode::rsaOperationFailed:
            return "the RSA block operation failed";
        case ErrorCode::badData:
            return "the input is not below the modulus, or the decrypted block is malformed";
        case ErrorCode::badLength:
            return "the message or input is too long for the key, or the key size is unusable";
        case ErrorCode::notSeeded:
            return "the random pool still wants seed bytes";
        case ErrorCode::keyUnreadable:
            return "not an RSA key of the kind asked for, in PEM or DER";
        case ErrorCode::keyTooLarge:
            return "the RSA modulus has more than 1024 bits";
        case ErrorCode::keyTooSmall:
            return "the RSA modulus has fewer than 96 bits, too small for PKCS #1 v1.5 blocks";
        case ErrorCode::keyEncrypted:
            return "the private key is encrypted and no passphrase was given";
        case ErrorCode::wrongPassphrase:
            return "the passphrase is wrong or the key file is damaged";
        case ErrorCode::keyIncomplete:
            return "the RSA key lacks its modulus, an exponent or a CRT value";
        case ErrorCode::multiPrimeKey:
            return "multi-prime RSA keys are not supported";
        case ErrorCode::keyDoesNotFit:
            return "a value of the RSA key is longer than its field in the key record";
        case ErrorCode::keyInvalid:
            return "not a usable RSA key (even modulus, public exponent even or below 3, or malformed "
                   "hexadecimal)";
        case ErrorCode::keyInconsistent:
            return "the values of the RSA private key do not fit together";
        case ErrorCode::keyMalformed:
            // The readers' detail names the rule; a list here would repeat it.
            return "the key's DER encoding breaks the rules";
        case ErrorCode::pemDamaged:
            return "the PEM armour or its Base64 text is truncated or damaged";
        case ErrorCode::keyOtherAlgorithm:
            return "the key belongs to another algorithm than RSA";
        case ErrorCode::notPrivateKey:
            return "a public key or a certificate was given where a private key is wanted";
        case ErrorCode::keyTooCostly:
            return "the key's passphrase derivation runs more iterations than the limit allows";
        case ErrorCode::keyDamaged:
            return "the key file is damaged (its DER is shorter than its header says, or its encrypted part "
                   "is empty or not whole cipher blocks)";
        case ErrorCode::envelopeRefused:
            return "the envelope does not open under this key (a wrong key, or a damaged or forged envelope)";
        case ErrorCode::envelopeMalformed:
            return "the envelope's parts have lengths that no envelope under this key has";
        case ErrorCode::envelopeKeyRefused:
            return "the envelope's wrapped key does not unwrap under this key to a 24-byte triple-DES key "
                   "(a wrong key, or a damaged record)";
        case ErrorCode::envelopePaddingRefused:
            return "the envelope's payload does not decrypt to valid padding under its unwrapped key "
                   "(a damaged record)";
        case ErrorCode::envelopeKeyNotText:
            return "the envelope's unwrapped key is not 24 hexadecimal characters, as this archive's keys are";
    }
    return "unknown Corvane error code";
}

}  // namespace corvane
