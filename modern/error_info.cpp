// The modern layer's forms that report a failure in an ErrorInfo instead of
// throwing it: each runs the throwing form and keeps what its Error says,
// so the code and the message are exactly the exception's.
#include <Corvane/corvane.hpp>

#include "modern_support.h"

namespace corvane::v1 {

using corvane::detail::reportInto;

std::vector<std::uint8_t> base64Decode(ByteView text, Base64Alphabet alphabet, Base64Padding padding,
                                       ErrorInfo& error) noexcept {
    return reportInto(error, [&] { return base64Decode(text, alphabet, padding); });
}

std::size_t base64Decode(ByteView text, std::span<std::uint8_t> out, Base64Alphabet alphabet, Base64Padding padding,
                         ErrorInfo& error) noexcept {
    return reportInto(error, [&] { return base64Decode(text, out, alphabet, padding); });
}

std::vector<std::uint8_t> hexDecode(std::string_view text, HexWhitespace whitespace, ErrorInfo& error) noexcept {
    return reportInto(error, [&] { return hexDecode(text, whitespace); });
}

std::optional<RsaPublicKey> RsaPublicKey::fromEncoded(ByteView pemOrDer, const KeyPassphrase& passphrase,
                                                      const KeyReadOptions& options, ErrorInfo& error) noexcept {
    return reportInto(error, [&] { return std::optional(fromEncoded(pemOrDer, passphrase, options)); });
}

std::optional<RsaPublicKey> RsaPublicKey::fromFile(const std::string& path, const KeyPassphrase& passphrase,
                                                   const KeyReadOptions& options, ErrorInfo& error) noexcept {
    return reportInto(error, [&] { return std::optional(fromFile(path, passphrase, options)); });
}

std::vector<std::uint8_t> RsaPublicKey::encrypt(ByteView message, RandomPool& pool, ErrorInfo& error) const noexcept {
    return reportInto(error, [&] { return encrypt(message, pool); });
}

std::vector<std::uint8_t> RsaPublicKey::recover(ByteView signature, ErrorInfo& error) const noexcept {
    return reportInto(error, [&] { return recover(signature); });
}

std::optional<RsaPrivateKey> RsaPrivateKey::fromEncoded(ByteView pemOrDer, const KeyPassphrase& passphrase,
                                                        const KeyReadOptions& options, ErrorInfo& error) noexcept {
    return reportInto(error, [&] { return std::optional(fromEncoded(pemOrDer, passphrase, options)); });
}

std::optional<RsaPrivateKey> RsaPrivateKey::fromFile(const std::string& path, const KeyPassphrase& passphrase,
                                                     const KeyReadOptions& options, ErrorInfo& error) noexcept {
    return reportInto(error, [&] { return std::optional(fromFile(path, passphrase, options)); });
}

std::vector<std::uint8_t> RsaPrivateKey::decrypt(ByteView block, ErrorInfo& error) const noexcept {
    return reportInto(error, [&] { return decrypt(block); });
}

std::vector<std::uint8_t> RsaPrivateKey::decrypt(ByteView block, RsaRejection rejection,
                                                 ErrorInfo& error) const noexcept {
    return reportInto(error, [&] { return decrypt(block, rejection); });
}

std::vector<std::uint8_t> RsaPrivateKey::decryptKey(ByteView block, std::size_t keySize,
                                                    ErrorInfo& error) const noexcept {
    return reportInto(error, [&] { return decryptKey(block, keySize); });
}

std::vector<std::uint8_t> RsaPrivateKey::sign(ByteView message, ErrorInfo& error) const noexcept {
    return reportInto(error, [&] { return sign(message); });
}

std::vector<std::uint8_t> des3Decrypt(ByteView data, ByteView key, ByteView iv, ErrorInfo& error) noexcept {
    return reportInto(error, [&] { return des3Decrypt(data, key, iv); });
}

std::vector<std::uint8_t> des3Decrypt(ByteView data, ByteView key, ErrorInfo& error) noexcept {
    return reportInto(error, [&] { return des3Decrypt(data, key); });
}

std::size_t des3Decrypt(ByteView data, ByteView key, ByteView iv, std::span<std::uint8_t> out,
                        ErrorInfo& error) noexcept {
    return reportInto(error, [&] { return des3Decrypt(data, key, iv, out); });
}

std::size_t Des3Decryptor::finish(std::span<std::uint8_t> out, ErrorInfo& error) noexcept {
    return reportInto(error, [&] { return finish(out); });
}

std::vector<std::uint8_t> des3DecryptWithPassphrase(ByteView data, std::string_view passphrase, unsigned iterations,
                                                    std::string_view digest, ErrorInfo& error) noexcept {
    return reportInto(error, [&] { return des3DecryptWithPassphrase(data, passphrase, iterations, digest); });
}

std::vector<std::uint8_t> openEnvelope(const RsaPrivateKey& key, ByteView wrappedKey, ByteView payload,
                                       ErrorInfo& error) noexcept {
    return reportInto(error, [&] { return openEnvelope(key, wrappedKey, payload); });
}

Envelope sealEnvelope(const RsaPublicKey& key, ByteView message, RandomPool& pool, Des3KeyForm form,
                      ErrorInfo& error) noexcept {
    return reportInto(error, [&] { return sealEnvelope(key, message, pool, form); });
}

}  // namespace corvane::v1
