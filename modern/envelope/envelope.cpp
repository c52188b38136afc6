// Envelopes: an RSA-wrapped triple-DES key and the payload encrypted under
// it (<Corvane/modern/envelope.hpp>). Opening unwraps through
// RsaPrivateKey::decryptKey, which gives a substitute key for a malformed
// block, so that every refusal comes from the same place: the payload's
// padding, or a public length. An archive's records unwrap through the
// reporting decryption instead, and each refusal keeps its cause.
#include <Corvane/modern/envelope.hpp>

#include <algorithm>
#include <array>
#include <new>
#include <string>

#include "modern/support/failures.h"
#include "platform/secure_zero.h"

namespace corvane::v1 {

namespace {

constexpr std::size_t kEnvelopeKeySize = 24;
constexpr std::size_t kDes3BlockSize = 8;

// A triple-DES key and the IV the legacy rule takes from it, wiped when done.
struct EnvelopeKeyBytes {
    std::array<std::uint8_t, kEnvelopeKeySize> bytes{};
    ~EnvelopeKeyBytes() { secure_zero(bytes.data(), bytes.size()); }
    ByteView key() const noexcept { return {bytes.data(), bytes.size()}; }
    ByteView iv() const noexcept { return {bytes.data(), kDes3BlockSize}; }
};

// The triple-DES keys of many envelopes, side by side, wiped when done.
struct EnvelopeKeyTable {
    std::vector<std::uint8_t> bytes;
    explicit EnvelopeKeyTable(std::size_t count) : bytes(count * kEnvelopeKeySize) {}
    ~EnvelopeKeyTable() { secure_zero(bytes.data(), bytes.size()); }
    EnvelopeKeyTable(const EnvelopeKeyTable&) = delete;
    EnvelopeKeyTable& operator=(const EnvelopeKeyTable&) = delete;
    std::uint8_t* at(std::size_t i) noexcept { return bytes.data() + i * kEnvelopeKeySize; }
    ByteView key(std::size_t i) const noexcept { return {bytes.data() + i * kEnvelopeKeySize, kEnvelopeKeySize}; }
};

// Shapes that no envelope under this key has; anyone can see them.
bool visiblyMalformed(const RsaPrivateKey& key, const EnvelopeView& envelope) noexcept {
    return key.blockSize() < kEnvelopeKeySize + 11 || envelope.wrappedKey.size() != key.blockSize() ||
           envelope.payload.empty() || envelope.payload.size() % kDes3BlockSize != 0;
}

// The payload decrypted under the unwrapped key; every failure but memory is
// the refusal given (the envelope's one refusal, or an archive's padding
// refusal).
std::vector<std::uint8_t> openPayload(ByteView payload, const EnvelopeKeyBytes& key, std::error_code& error,
                                      ErrorCode refusal = ErrorCode::envelopeRefused) noexcept {
    std::vector<std::uint8_t> plaintext;
    try {
        plaintext.resize(des3DecryptedCapacity(payload.size()));
    } catch (const std::bad_alloc&) {
        error = ErrorCode::outOfMemory;
        return {};
    }
    // A refused decryption wipes what it wrote.
    const std::size_t length = des3Decrypt(payload, key.key(), key.iv(), plaintext, error);
    if (error) {
        if (error != ErrorCode::outOfMemory) error = refusal;
        return {};
    }
    plaintext.resize(length);
    return plaintext;
}

// The unwrap's errors: a block whose value is not below the modulus (or
// whose length is off) is the envelope's refusal like any other.
std::error_code unwrapError(const std::error_code& error) noexcept {
    return error == ErrorCode::outOfMemory ? error : make_error_code(ErrorCode::envelopeRefused);
}

void takeKey(std::uint8_t* key, std::vector<std::uint8_t>& unwrapped) noexcept {
    std::copy_n(unwrapped.begin(), std::min(unwrapped.size(), kEnvelopeKeySize), key);
    secure_zero(unwrapped.data(), unwrapped.size());
}

bool isHexText(const std::uint8_t* key) noexcept {
    return std::all_of(key, key + kEnvelopeKeySize, [](std::uint8_t c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

// An archive's unwrap: the reporting decryption's message taken as the
// triple-DES key when it is one (24 bytes; of the text form where asked),
// else the refusal that says why. The message is wiped either way.
std::error_code takeArchiveKey(std::vector<std::uint8_t>& message, const std::error_code& unwrapError,
                               bool hexText, std::uint8_t* key) noexcept {
    const bool whole = !unwrapError && message.size() == kEnvelopeKeySize;
    takeKey(key, message);
    if (unwrapError == ErrorCode::outOfMemory) return unwrapError;
    if (!whole) return ErrorCode::envelopeKeyRefused;
    if (hexText && !isHexText(key)) return ErrorCode::envelopeKeyNotText;
    return {};
}

// Many envelopes under one key: the visibly malformed refused with
// `malformed`, the others' wrapped keys unwrapped together by
// `unwrap(blocks, desKeys)` (which puts each key in the table and gives
// each block its refusal, or none), then the payloads decrypted side by
// side on the triple-DES batch lanes, each under its key and the IV taken
// from it; a payload that does not decrypt is refused with `badPayload`.
template <typename Unwrap>
std::vector<BatchResult> openBatch(const RsaPrivateKey& key, std::span<const EnvelopeView> envelopes,
                                   ErrorCode malformed, ErrorCode badPayload, Unwrap unwrap) {
    std::vector<BatchResult> results(envelopes.size());
    std::vector<ByteView> blocks;
    std::vector<std::size_t> owners;
    blocks.reserve(envelopes.size());
    owners.reserve(envelopes.size());
    for (std::size_t i = 0; i < envelopes.size(); i++) {
        if (visiblyMalformed(key, envelopes[i])) {
            results[i].error = malformed;
            continue;
        }
        blocks.push_back(envelopes[i].wrappedKey);
        owners.push_back(i);
    }
    if (blocks.empty()) return results;
    EnvelopeKeyTable desKeys(blocks.size());
    const std::vector<std::error_code> refusals = unwrap(std::span<const ByteView>(blocks), desKeys);
    std::vector<Des3BatchItem> items;
    std::vector<std::size_t> itemOwners;
    items.reserve(blocks.size());
    itemOwners.reserve(blocks.size());
    for (std::size_t j = 0; j < blocks.size(); j++) {
        if (refusals[j]) {
            results[owners[j]].error = refusals[j];
            continue;
        }
        items.push_back({envelopes[owners[j]].payload, desKeys.key(j), {}, true});
        itemOwners.push_back(owners[j]);
    }
    std::vector<BatchResult> payloads = des3DecryptBatch(items);
    for (std::size_t j = 0; j < payloads.size(); j++) {
        BatchResult& result = results[itemOwners[j]];
        if (payloads[j].error == ErrorCode::outOfMemory)
            result.error = payloads[j].error;
        else if (payloads[j].error)
            result.error = badPayload;
        else
            result.bytes = std::move(payloads[j].bytes);
    }
    return results;
}

void requireWrappable(const RsaPublicKey& key) {
    if (key.maxMessageSize() < kEnvelopeKeySize)
        corvane::detail::throwError(ErrorCode::badLength,
                                    "a " + std::to_string(key.bits()) +
                                        "-bit key cannot wrap a 24-byte triple-DES key (280 bits at least)");
}

void newKey(std::uint8_t* key, Des3KeyForm form) {
    std::vector<std::uint8_t> made = des3RandomKey(form);
    takeKey(key, made);
}

}  // namespace

std::vector<std::uint8_t> openEnvelope(const RsaPrivateKey& key, ByteView wrappedKey, ByteView payload,
                                       std::error_code& error) noexcept {
    error.clear();
    if (visiblyMalformed(key, {wrappedKey, payload})) {
        error = ErrorCode::envelopeRefused;
        return {};
    }
    EnvelopeKeyBytes desKey;
    std::vector<std::uint8_t> unwrapped = key.decryptKey(wrappedKey, kEnvelopeKeySize, error);
    takeKey(desKey.bytes.data(), unwrapped);
    if (error) {
        error = unwrapError(error);
        return {};
    }
    return openPayload(payload, desKey, error);
}

std::vector<std::uint8_t> openEnvelope(const RsaPrivateKey& key, ByteView wrappedKey, ByteView payload,
                                       const EnvelopeOpening& opening, std::error_code& error) noexcept {
    if (opening.refusal == EnvelopeRefusal::uniform) {
        if (!opening.hexTextKeys) return openEnvelope(key, wrappedKey, payload, error);
        error = ErrorCode::invalidInput;
        return {};
    }
    error.clear();
    if (visiblyMalformed(key, {wrappedKey, payload})) {
        error = ErrorCode::envelopeMalformed;
        return {};
    }
    EnvelopeKeyBytes desKey;
    std::vector<std::uint8_t> message = key.decrypt(wrappedKey, error);
    error = takeArchiveKey(message, error, opening.hexTextKeys, desKey.bytes.data());
    if (error) return {};
    return openPayload(payload, desKey, error, ErrorCode::envelopePaddingRefused);
}

std::vector<std::uint8_t> openEnvelope(const RsaPrivateKey& key, ByteView wrappedKey, ByteView payload) {
    std::error_code error;
    std::vector<std::uint8_t> plaintext = openEnvelope(key, wrappedKey, payload, error);
    corvane::detail::throwIfError(error);
    return plaintext;
}

std::vector<BatchResult> openEnvelopes(const RsaPrivateKey& key, std::span<const EnvelopeView> envelopes) {
    return openBatch(key, envelopes, ErrorCode::envelopeRefused, ErrorCode::envelopeRefused,
                     [&](std::span<const ByteView> blocks, EnvelopeKeyTable& desKeys) {
                         std::vector<BatchResult> keys = key.decryptKeyBatch(blocks, kEnvelopeKeySize);
                         std::vector<std::error_code> refusals(keys.size());
                         for (std::size_t j = 0; j < keys.size(); j++) {
                             takeKey(desKeys.at(j), keys[j].bytes);
                             if (keys[j].error) refusals[j] = unwrapError(keys[j].error);
                         }
                         return refusals;
                     });
}

std::vector<BatchResult> openEnvelopes(const RsaPrivateKey& key, std::span<const EnvelopeView> envelopes,
                                       const EnvelopeOpening& opening) {
    if (opening.refusal == EnvelopeRefusal::uniform) {
        if (opening.hexTextKeys)
            corvane::detail::throwError(ErrorCode::invalidInput,
                                        "the text-form key check goes with the archive refusal only");
        return openEnvelopes(key, envelopes);
    }
    return openBatch(key, envelopes, ErrorCode::envelopeMalformed, ErrorCode::envelopePaddingRefused,
                     [&](std::span<const ByteView> blocks, EnvelopeKeyTable& desKeys) {
                         // The reporting decryption, on the batch lanes too.
                         std::vector<BatchResult> messages = key.decryptBatch(blocks);
                         std::vector<std::error_code> refusals(messages.size());
                         for (std::size_t j = 0; j < messages.size(); j++)
                             refusals[j] = takeArchiveKey(messages[j].bytes, messages[j].error,
                                                          opening.hexTextKeys, desKeys.at(j));
                         return refusals;
                     });
}

Envelope sealEnvelope(const RsaPublicKey& key, ByteView message, RandomPool& pool, Des3KeyForm form) {
    requireWrappable(key);
    EnvelopeKeyBytes desKey;
    newKey(desKey.bytes.data(), form);
    Envelope envelope;
    envelope.wrappedKey = key.encrypt(desKey.key(), pool);
    envelope.payload = des3Encrypt(message, desKey.key(), desKey.iv());
    return envelope;
}

Envelope sealEnvelope(const RsaPublicKey& key, ByteView message, Des3KeyForm form) {
    RandomPool pool;
    return sealEnvelope(key, message, pool, form);
}

std::vector<Envelope> sealEnvelopes(const RsaPublicKey& key, std::span<const ByteView> messages, RandomPool& pool,
                                    Des3KeyForm form) {
    requireWrappable(key);
    // Every key is made and wrapped first; the payloads' CBC chains then
    // advance together on the triple-DES batch lanes.
    EnvelopeKeyTable desKeys(messages.size());
    std::vector<Envelope> envelopes(messages.size());
    std::vector<Des3BatchItem> items;
    items.reserve(messages.size());
    for (std::size_t i = 0; i < messages.size(); i++) {
        newKey(desKeys.at(i), form);
        envelopes[i].wrappedKey = key.encrypt(desKeys.key(i), pool);
        items.push_back({messages[i], desKeys.key(i), {}, true});
    }
    std::vector<BatchResult> payloads = des3EncryptBatch(items);
    for (std::size_t i = 0; i < payloads.size(); i++) {
        corvane::detail::throwIfError(payloads[i].error);
        envelopes[i].payload = std::move(payloads[i].bytes);
    }
    return envelopes;
}

}  // namespace corvane::v1

// The forms that report a failure in an ErrorInfo instead of throwing it:
// each runs the throwing form and keeps what its Error says, so the code
// and the message are exactly the exception's.
namespace corvane::v1 {

std::vector<std::uint8_t> openEnvelope(const RsaPrivateKey& key, ByteView wrappedKey, ByteView payload,
                                       ErrorInfo& error) noexcept {
    return corvane::detail::reportInto(error, [&] { return openEnvelope(key, wrappedKey, payload); });
}

Envelope sealEnvelope(const RsaPublicKey& key, ByteView message, RandomPool& pool, Des3KeyForm form,
                      ErrorInfo& error) noexcept {
    return corvane::detail::reportInto(error, [&] { return sealEnvelope(key, message, pool, form); });
}

}  // namespace corvane::v1
