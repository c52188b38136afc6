#include "rsa_keys.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "../../platform/secure_zero.h"
#include "io.h"
#include "tool_error.h"

namespace corvane::tool {

namespace {

enum class KeyKind { publicKey, privateKey };

// The failure for a refused key, in the tool's own words.
[[noreturn]] void refuse(const std::string& path, const KeyStatus& status, KeyKind kind) {
    const std::error_code& error = status.error;
    const bool isPrivate = kind == KeyKind::privateKey;
    if (error.category() != errorCategory()) failure(path + ": " + error.message());
    switch (static_cast<ErrorCode>(error.value())) {
        case ErrorCode::outOfMemory:
            throw std::bad_alloc();
        case ErrorCode::keyTooLarge:
            failure(path + ": the key has a " + std::to_string(status.modulusBits) +
                    "-bit modulus; at most " + std::to_string(MAX_RSA_MODULUS_BITS) + " bits are supported");
        case ErrorCode::keyTooSmall:
            failure(path + ": the key's modulus is too small for PKCS #1 v1.5 blocks");
        case ErrorCode::keyUnreadable:
        case ErrorCode::keyEncrypted:
            failure(path + (isPrivate ? ": not an unencrypted RSA private key (PEM or DER)"
                                      : ": not an RSA public key (PEM or DER)"));
        case ErrorCode::keyIncomplete:
            failure(path + (isPrivate ? ": the RSA private key lacks its CRT parameters"
                                      : ": the RSA public key lacks its modulus or exponent"));
        case ErrorCode::keyDoesNotFit:
            failure(path + (isPrivate ? ": the RSA private key's primes do not fit the key record"
                                      : ": the RSA public key does not fit the key record"));
        default:
            failure(path + ": " + error.message());
    }
}

// Runs the library's reader on the file, or on standard input for "-".
template <typename Record, typename ReadBytes, typename ReadFile>
void load(const std::string& path, Record& key, KeyKind kind, ReadBytes readBytes, ReadFile readFile) {
    KeyStatus status;
    if (path == "-") {
        errno = 0;
        auto bytes = readAll(path);
        if (!bytes)
            failure(std::string("standard input: ") + (errno != 0 ? std::strerror(errno) : "read error"));
        status = readBytes(*bytes, key);
        secure_zero(bytes->data(), bytes->size());
    } else {
        status = readFile(path.c_str(), key);
    }
    if (!status) refuse(path, status, kind);
}

}  // namespace

void loadRsaPublicKey(const std::string& path, R_RSA_PUBLIC_KEY& key, const KeyPassphrase& passphrase) {
    load(
        path, key, KeyKind::publicKey,
        [&](std::span<const std::uint8_t> bytes, R_RSA_PUBLIC_KEY& k) {
            return corvane::loadRsaPublicKey(bytes, k, passphrase);
        },
        [&](const char* file, R_RSA_PUBLIC_KEY& k) {
            return corvane::loadRsaPublicKeyFile(file, k, passphrase);
        });
}

void loadRsaPrivateKey(const std::string& path, R_RSA_PRIVATE_KEY& key, const KeyPassphrase& passphrase) {
    load(
        path, key, KeyKind::privateKey,
        [&](std::span<const std::uint8_t> bytes, R_RSA_PRIVATE_KEY& k) {
            return corvane::loadRsaPrivateKey(bytes, k, passphrase);
        },
        [&](const char* file, R_RSA_PRIVATE_KEY& k) {
            return corvane::loadRsaPrivateKeyFile(file, k, passphrase);
        });
}

}  // namespace corvane::tool
