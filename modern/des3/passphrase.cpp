// Triple DES under a passphrase in openssl enc's salted format: the key and
// IV come from libcrypto's PBKDF2, the cipher is des3Encrypt/des3Decrypt
// (QVDes3) with them.
#include <Corvane/modern/des3.hpp>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <string>

#include "modern/support/failures.h"
#include "platform/entropy.h"
#include "platform/secure_zero.h"

namespace corvane::v1 {

namespace {

// The digest libcrypto knows by this name, or null. The name is copied to
// give libcrypto its terminating NUL.
const EVP_MD* digestNamed(std::string_view name) {
    if (name.empty() || name.find('\0') != std::string_view::npos) return nullptr;
    return EVP_get_digestbyname(std::string(name).c_str());
}

void deriveInto(Des3PassphraseKey& derived, std::string_view passphrase,
                std::span<const std::uint8_t, 8> salt, unsigned iterations, std::string_view digest,
                std::error_code& error) noexcept {
    error.clear();
    try {
        const EVP_MD* md = digestNamed(digest);
        if (md == nullptr || iterations == 0 || iterations > INT_MAX || passphrase.size() > INT_MAX) {
            error = ErrorCode::invalidInput;
            return;
        }
        auto out = derived.bytes();
        // A digest that cannot serve HMAC (an extendable-output one) is
        // refused here.
        if (PKCS5_PBKDF2_HMAC(passphrase.data(), static_cast<int>(passphrase.size()), salt.data(),
                              static_cast<int>(salt.size()), static_cast<int>(iterations), md,
                              static_cast<int>(out.size()), out.data()) != 1) {
            secure_zero(out.data(), out.size());
            error = ErrorCode::invalidInput;
        }
    } catch (const std::bad_alloc&) {
        error = ErrorCode::outOfMemory;
    }
}

}  // namespace

Des3PassphraseKey::Des3PassphraseKey() noexcept : bytes_{} {}

Des3PassphraseKey::Des3PassphraseKey(Des3PassphraseKey&& other) noexcept : bytes_(other.bytes_) {
    secure_zero(other.bytes_.data(), other.bytes_.size());
}

Des3PassphraseKey& Des3PassphraseKey::operator=(Des3PassphraseKey&& other) noexcept {
    if (this != &other) {
        bytes_ = other.bytes_;
        secure_zero(other.bytes_.data(), other.bytes_.size());
    }
    return *this;
}

Des3PassphraseKey::~Des3PassphraseKey() { secure_zero(bytes_.data(), bytes_.size()); }

Des3PassphraseKey des3KeyFromPassphrase(std::string_view passphrase, std::span<const std::uint8_t, 8> salt,
                                        unsigned iterations, std::string_view digest) {
    Des3PassphraseKey derived;
    std::error_code error;
    deriveInto(derived, passphrase, salt, iterations, digest, error);
    corvane::detail::throwIfError(error);
    return derived;
}

std::array<std::uint8_t, kDes3SaltedHeaderSize> des3SaltedHeader(
    std::span<const std::uint8_t, 8> salt) noexcept {
    std::array<std::uint8_t, kDes3SaltedHeaderSize> header{};
    std::copy(kDes3SaltedMagic.begin(), kDes3SaltedMagic.end(), header.begin());
    std::copy(salt.begin(), salt.end(), header.begin() + kDes3SaltedMagic.size());
    return header;
}

bool des3SaltFromHeader(ByteView data, Des3Salt& salt) noexcept {
    if (data.size() < kDes3SaltedHeaderSize ||
        !std::equal(kDes3SaltedMagic.begin(), kDes3SaltedMagic.end(), data.data()))
        return false;
    std::copy_n(data.data() + kDes3SaltedMagic.size(), salt.size(), salt.begin());
    return true;
}

Des3Salt des3RandomSalt() {
    Des3Salt salt{};
    if (!os_entropy(salt.data(), salt.size()))
        corvane::detail::throwError(std::make_error_code(std::errc::io_error));
    return salt;
}

std::vector<std::uint8_t> des3EncryptWithPassphrase(ByteView data, std::string_view passphrase,
                                                    std::span<const std::uint8_t, 8> salt,
                                                    unsigned iterations, std::string_view digest) {
    Des3PassphraseKey derived = des3KeyFromPassphrase(passphrase, salt, iterations, digest);
    std::vector<std::uint8_t> ciphertext = des3Encrypt(data, derived.key(), derived.iv());
    auto header = des3SaltedHeader(salt);
    ciphertext.insert(ciphertext.begin(), header.begin(), header.end());
    return ciphertext;
}

std::vector<std::uint8_t> des3EncryptWithPassphrase(ByteView data, std::string_view passphrase,
                                                    unsigned iterations, std::string_view digest) {
    Des3Salt salt = des3RandomSalt();
    return des3EncryptWithPassphrase(data, passphrase, salt, iterations, digest);
}

std::vector<std::uint8_t> des3DecryptWithPassphrase(ByteView data, std::string_view passphrase,
                                                    unsigned iterations, std::string_view digest,
                                                    std::error_code& error) noexcept {
    Des3Salt salt{};
    if (!des3SaltFromHeader(data, salt)) {
        error = ErrorCode::invalidInput;
        return {};
    }
    Des3PassphraseKey derived;
    deriveInto(derived, passphrase, salt, iterations, digest, error);
    if (error) return {};
    ByteView ciphertext(data.data() + kDes3SaltedHeaderSize, data.size() - kDes3SaltedHeaderSize);
    return des3Decrypt(ciphertext, derived.key(), derived.iv(), error);
}

std::vector<std::uint8_t> des3DecryptWithPassphrase(ByteView data, std::string_view passphrase,
                                                    unsigned iterations, std::string_view digest) {
    std::error_code error;
    std::vector<std::uint8_t> plain = des3DecryptWithPassphrase(data, passphrase, iterations, digest, error);
    corvane::detail::throwIfError(error);
    return plain;
}

}  // namespace corvane::v1

// The forms that report a failure in an ErrorInfo instead of throwing it:
// each runs the throwing form and keeps what its Error says, so the code
// and the message are exactly the exception's.
namespace corvane::v1 {

std::vector<std::uint8_t> des3DecryptWithPassphrase(ByteView data, std::string_view passphrase, unsigned iterations,
                                                    std::string_view digest, ErrorInfo& error) noexcept {
    return corvane::detail::reportInto(error, [&] { return des3DecryptWithPassphrase(data, passphrase, iterations, digest); });
}

}  // namespace corvane::v1
