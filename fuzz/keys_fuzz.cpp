// Feeds arbitrary bytes to every key reader of <Corvane/keys.h> and the
// modern layer, with no passphrase, a passphrase text or a passphrase
// callback. A refusal must leave the record all zero, and a refusal after
// decryption must be the one answer (wrongPassphrase, no detail, no size);
// the callback is asked only for counts within the iteration limit, which
// is low here so that a file cannot slow the run; an accepted key must pass
// the modern types' checks (which include every consistency check) and come
// back unchanged from each writer and the reader again.
//
// Input: one control byte, then the encoded key. Control bits 0-1 choose
// the passphrase (none, text, callback; 3 is a callback that declines),
// bit 2 also round-trips an accepted private key through the PBKDF2
// encryption (slow, so not always).
#include <Corvane/corvane.hpp>
#include <Corvane/keys.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace {

using namespace corvane;

constexpr const char* kPassphrase = "fuzz";
constexpr std::uint32_t kIterationLimit = 4096;

void require(bool condition) {
    if (!condition) std::abort();
}

template <typename Record>
bool allZero(const Record& r) {
    const auto* b = reinterpret_cast<const unsigned char*>(&r);
    for (std::size_t i = 0; i < sizeof r; i++)
        if (b[i] != 0) return false;
    return true;
}


KeyPassphrase passphraseOf(std::uint8_t control) {
    switch (control & 3) {
        case 0:
            return {};
        case 1:
            return KeyPassphrase(kPassphrase);
        case 2:
            return KeyPassphrase([](std::span<char> buffer, const KeyEncryption& encryption) {
                require(encryption.iterations >= 1 && encryption.iterations <= kIterationLimit);
                std::size_t n = std::strlen(kPassphrase);
                std::memcpy(buffer.data(), kPassphrase, n);
                return n;
            });
        default:
            return KeyPassphrase([](std::span<char>) { return std::size_t{0}; });
    }
}

void checkPublicRoundTrip(const R_RSA_PUBLIC_KEY& key) {
    (void)v1::RsaPublicKey::fromRecord(key);  // throws (and so aborts) when refused
    for (RsaKeyFormat format : {RsaKeyFormat::standard, RsaKeyFormat::pkcs1}) {
        std::string pem;
        std::vector<std::uint8_t> der;
        require(!rsaPublicKeyToPem(key, pem, format));
        require(!rsaPublicKeyToDer(key, der, format));
        R_RSA_PUBLIC_KEY again;
        require(static_cast<bool>(loadRsaPublicKey(pem, again)) && std::memcmp(&again, &key, sizeof key) == 0);
        require(static_cast<bool>(loadRsaPublicKey(der, again)) && std::memcmp(&again, &key, sizeof key) == 0);
    }
}

void checkPrivateRoundTrip(const R_RSA_PRIVATE_KEY& key, bool encrypted) {
    (void)v1::RsaPrivateKey::fromRecord(key);
    auto same = [&key](const KeyStatus& status, const R_RSA_PRIVATE_KEY& again) {
        require(static_cast<bool>(status) && std::memcmp(&again, &key, sizeof key) == 0);
    };
    for (RsaKeyFormat format : {RsaKeyFormat::standard, RsaKeyFormat::pkcs1}) {
        std::string pem;
        std::vector<std::uint8_t> der;
        R_RSA_PRIVATE_KEY again;
        require(!rsaPrivateKeyToPem(key, pem, format));
        same(loadRsaPrivateKey(pem, again), again);
        require(!rsaPrivateKeyToDer(key, der, format));
        same(loadRsaPrivateKey(der, again), again);
        // The traditional encryption derives its key with one MD5 round: cheap.
        if (format == RsaKeyFormat::pkcs1 || encrypted) {
            require(!rsaPrivateKeyToPem(key, pem, format, kPassphrase));
            same(loadRsaPrivateKey(pem, again, kPassphrase), again);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t control = data[0];
    const std::span<const std::uint8_t> encoded(data + 1, size - 1);
    const KeyPassphrase passphrase = passphraseOf(control);

    KeyReadOptions options;
    options.maxIterations = kIterationLimit;
    R_RSA_PRIVATE_KEY privateKey;
    std::memset(&privateKey, 0x5A, sizeof privateKey);
    KeyStatus status = loadRsaPrivateKey(encoded, privateKey, passphrase, options);
    if (status) {
        checkPrivateRoundTrip(privateKey, (control & 4) != 0);
    } else {
        require(allZero(privateKey));
    }
    if (status.error == ErrorCode::wrongPassphrase) require(status.detail == nullptr && status.modulusBits == 0);

    R_RSA_PUBLIC_KEY publicKey;
    std::memset(&publicKey, 0x5A, sizeof publicKey);
    KeyStatus publicStatus = loadRsaPublicKey(encoded, publicKey, passphrase, options);
    if (publicStatus) {
        checkPublicRoundTrip(publicKey);
    } else {
        require(allZero(publicKey));
    }

    // The modern layer reads through the same functions and throws instead.
    try {
        (void)v1::RsaPrivateKey::fromEncoded(v1::ByteView(encoded.data(), encoded.size()), passphrase, options);
        require(static_cast<bool>(status));
    } catch (const v1::Error&) {
        require(!status);
    }
    return 0;
}
