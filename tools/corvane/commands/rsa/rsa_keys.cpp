#include "tools/corvane/commands/rsa/rsa_keys.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/secure_zero.h"
#include "tools/corvane/io/io.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

namespace {

enum class KeyKind { publicKey, privateKey };

// The library's file reader stops there too.
constexpr std::size_t kKeyFileLimit = std::size_t{1} << 20;

// The failure for a refused key, in the tool's own words. limit is the
// iteration limit the key was read with.
[[noreturn]] void refuse(const std::string& source, const KeyStatus& status, KeyKind kind,
                         std::uint32_t limit = kDefaultMaxKeyIterations) {
    const std::error_code& error = status.error;
    const bool isPrivate = kind == KeyKind::privateKey;
    if (error == std::errc::file_too_large)
        failure(source + ": more than " + std::to_string(kKeyFileLimit >> 20) +
                " MiB; no key file is that large");
    if (error.category() != errorCategory()) failure(source + ": " + error.message());
    switch (static_cast<ErrorCode>(error.value())) {
        case ErrorCode::outOfMemory:
            throw std::bad_alloc();
        case ErrorCode::keyTooLarge:
            // An encrypted key may be refused for its length before it is decrypted.
            if (status.modulusBits == 0)
                failure(source + ": the encrypted key is longer than any RSA key of at most " +
                        std::to_string(MAX_RSA_MODULUS_BITS) + " bits, the most that is supported");
            failure(source + ": the key has a " + std::to_string(status.modulusBits) +
                    "-bit modulus; at most " + std::to_string(MAX_RSA_MODULUS_BITS) + " bits are supported");
        case ErrorCode::keyTooSmall:
            failure(source + ": the key's modulus is too small for PKCS #1 v1.5 blocks");
        case ErrorCode::keyUnreadable:
            failure(source + (isPrivate ? ": not an RSA private key (PEM or DER)"
                                        : ": not an RSA public key (PEM or DER)"));
        case ErrorCode::keyEncrypted:
            failure(source +
                    ": the private key is encrypted; give its passphrase with --passin-file FILE or "
                    "--passin-env NAME (or run on a terminal to be asked)");
        case ErrorCode::wrongPassphrase:
            // The one answer for everything found once the key is decrypted.
            failure(source + ": the passphrase is wrong or the key file is damaged");
        case ErrorCode::keyDamaged:
            failure(source + ": the key file is damaged: " +
                    (status.detail != nullptr ? status.detail : error.message()));
        case ErrorCode::keyTooCostly:
            // No --max-iterations reads a count above the highest limit.
            if (status.iterations > kMaxKeyIterationLimit)
                failure(source + ": the key's passphrase derivation runs " +
                        std::to_string(status.iterations) +
                        " iterations, more than any key file may ask for (at most " +
                        std::to_string(kMaxKeyIterationLimit) + ")");
            failure(source + ": the key's passphrase derivation runs " + std::to_string(status.iterations) +
                    " iterations, more than the limit of " + std::to_string(limit) +
                    "; give --max-iterations " + std::to_string(status.iterations) +
                    " to read it if it comes from someone you trust");
        case ErrorCode::keyIncomplete:
            failure(source + (isPrivate ? ": the RSA private key lacks its CRT parameters"
                                        : ": the RSA public key lacks its modulus or exponent"));
        case ErrorCode::keyDoesNotFit:
            failure(source + (isPrivate ? ": the RSA private key's primes do not fit the key record"
                                        : ": the RSA public key does not fit the key record"));
        case ErrorCode::keyInvalid:
            failure(source + ": not a usable RSA key (" +
                    (status.detail != nullptr ? status.detail : "its modulus is even or its exponent zero") +
                    ")");
        case ErrorCode::pemDamaged:
        case ErrorCode::keyMalformed:
        case ErrorCode::keyOtherAlgorithm:
        case ErrorCode::notPrivateKey:
            failure(source +
                    (isPrivate ? ": not an RSA private key (PEM or DER): "
                               : ": not an RSA public key (PEM or DER): ") +
                    (status.detail != nullptr ? status.detail : error.message()));
        case ErrorCode::keyInconsistent:
            failure(source + ": the RSA private key's values do not fit together: " +
                    (status.detail != nullptr ? status.detail : error.message()));
        default:
            failure(source + ": " + error.message());
    }
}

// Runs the library's reader on the file, or on standard input for "-".
template <typename Record, typename ReadBytes, typename ReadFile>
void load(const std::string& path, Record& key, KeyKind kind, const PassphraseSource& passphrase,
          ReadBytes readBytes, ReadFile readFile) {
    KeyStatus status;
    if (path == "-") {
        errno = 0;
        auto bytes = readAll(path, kKeyFileLimit);
        if (!bytes)
            failure(std::string("standard input: ") + (errno != 0 ? std::strerror(errno) : "read error"));
        if (bytes->size() > kKeyFileLimit)
            status.error = std::make_error_code(std::errc::file_too_large);
        else
            status = readBytes(*bytes, key);
        secure_zero(bytes->data(), bytes->size());
    } else {
        status = readFile(path.c_str(), key);
    }
    // The readers decline an empty or overlong passphrase as if none had
    // been given; the user is told which it was.
    if (status.error == make_error_code(ErrorCode::keyEncrypted))
        if (std::optional<std::size_t> offered = passphrase.offeredLength()) {
            try {
                refuseUnusablePassphrase(*offered);
            } catch (const ToolError& e) {
                failure(inputName(path) + ": " + e.what());
            }
        }
    if (!status) refuse(inputName(path), status, kind, passphrase.readOptions().maxIterations);
}

bool isZero(std::span<const std::uint8_t> number) {
    return std::all_of(number.begin(), number.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

void loadRsaPublicKey(const std::string& path, R_RSA_PUBLIC_KEY& key, const PassphraseSource& passphrase) {
    KeyPassphrase answer = passphrase.forKey(path);
    load(
        path, key, KeyKind::publicKey, passphrase,
        [&](std::span<const std::uint8_t> bytes, R_RSA_PUBLIC_KEY& k) {
            return corvane::loadRsaPublicKey(bytes, k, answer, passphrase.readOptions());
        },
        [&](const char* file, R_RSA_PUBLIC_KEY& k) {
            return corvane::loadRsaPublicKeyFile(file, k, answer, passphrase.readOptions());
        });
}

void loadRsaPrivateKey(const std::string& path, R_RSA_PRIVATE_KEY& key, const PassphraseSource& passphrase) {
    KeyPassphrase answer = passphrase.forKey(path);
    load(
        path, key, KeyKind::privateKey, passphrase,
        [&](std::span<const std::uint8_t> bytes, R_RSA_PRIVATE_KEY& k) {
            return corvane::loadRsaPrivateKey(bytes, k, answer, passphrase.readOptions());
        },
        [&](const char* file, R_RSA_PRIVATE_KEY& k) {
            return corvane::loadRsaPrivateKeyFile(file, k, answer, passphrase.readOptions());
        });
}

void rsaPublicKeyFromHexTexts(const std::string& modulus, const std::string& exponent,
                              R_RSA_PUBLIC_KEY& key) {
    KeyStatus status = corvane::rsaPublicKeyFromHex(modulus, exponent, key);
    if (!status) refuse("--modulus/--exponent", status, KeyKind::publicKey);
}

void refuseKeyThatProtectsNothing(std::span<const std::uint8_t> modulus,
                                  std::span<const std::uint8_t> exponent, const std::string& source) {
    if (isZero(exponent)) failure(source + ": the public exponent is zero; the key protects nothing");
    if (isZero(exponent.first(exponent.size() - 1)) && exponent.back() == 1)
        failure(source +
                ": the public exponent is 1, which leaves every block as it is; the key protects nothing");
    if (exponent.back() % 2 == 0) failure(source + ": the public exponent is even, which no RSA key has");
    if (!modulus.empty() && modulus.back() % 2 == 0)
        failure(source + ": the modulus is even, which no RSA key has");
}

}  // namespace corvane::tool
