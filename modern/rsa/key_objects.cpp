// The modern layer's RSA: key objects holding the legacy records and the
// arithmetic's set-up of each, made once when the key is made, and the four
// block operations and the batches over them (rsa_blocks.h: the steps of
// the QV_RSA functions, which redo the set-up on every call).
#include <Corvane/modern/rsa.hpp>
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "engine/bignum/rsa_batch.h"
#include "engine/bignum/rsa_prepared.h"
#include "engine/ct/stack_scrub.h"
#include "modern/keys/checks.h"
#include "modern/rsa/implicit_rejection.h"
#include "modern/support/failures.h"
#include "myrsa/rsa_blocks.h"
#include "modern/support/secret_scratch.h"
#include "platform/secure_zero.h"

namespace corvane::v1 {

namespace {

using corvane::detail::PrivateKeySetUp;
using engine::PreparedPublicKey;

// The keys' set-up lives in their storage bytes (see <Corvane/modern/rsa.hpp>).
template <typename Prepared, std::size_t N>
Prepared& preparedIn(unsigned char (&storage)[N]) noexcept {
    static_assert(sizeof(Prepared) <= N && alignof(Prepared) <= 16, "the key objects' storage must hold it");
    return *std::launder(reinterpret_cast<Prepared*>(storage));
}
template <typename Prepared, std::size_t N>
const Prepared& preparedIn(const unsigned char (&storage)[N]) noexcept {
    static_assert(sizeof(Prepared) <= N && alignof(Prepared) <= 16, "the key objects' storage must hold it");
    return *std::launder(reinterpret_cast<const Prepared*>(storage));
}

// Runs one block operation into a stack block that is wiped afterwards,
// since a decryption leaves the plaintext there. The result or the error.
template <typename Operation>
std::vector<std::uint8_t> runBlockOperation(ByteView input, std::error_code& error,
                                            Operation operation) noexcept {
    error.clear();
    if (input.size() > std::numeric_limits<std::uint32_t>::max()) {
        error = ErrorCode::badLength;
        return {};
    }
    corvane::detail::SecretScratch<unsigned char[MAX_RSA_MODULUS_LEN]> block;
    std::uint32_t blockLen = 0;
    std::int32_t status = operation(block.value, &blockLen, corvane::detail::bytesOrEmpty(input),
                                    static_cast<std::uint32_t>(input.size()));
    std::vector<std::uint8_t> result;
    if (status != 0) {
        error = static_cast<ErrorCode>(status);
    } else {
        try {
            result.assign(block.value, block.value + std::min<std::size_t>(blockLen, sizeof block.value));
        } catch (const std::bad_alloc&) {
            error = ErrorCode::outOfMemory;
        }
    }
    return result;
}

// What a failed block operation's exception says besides its code: both
// lengths when the input's length is the likely cause.
std::string blockLengthDetail(std::size_t inputSize, std::size_t blockSize) {
    return "the block is " + std::to_string(inputSize) + " bytes; this key's blocks are " +
           std::to_string(blockSize) + " bytes";
}

std::string keySizeDetail(std::size_t keySize, std::size_t maxMessageSize) {
    return "a key of " + std::to_string(keySize) + " bytes was asked for; this key's blocks hold 1 to " +
           std::to_string(maxMessageSize);
}

// The first count bytes of a secret buffer as a vector (outOfMemory in
// error where that fails).
std::vector<std::uint8_t> copyOut(const std::uint8_t* bytes, std::size_t count, std::error_code& error) noexcept {
    try {
        return std::vector<std::uint8_t>(bytes, bytes + count);
    } catch (const std::bad_alloc&) {
        error = ErrorCode::outOfMemory;
        return {};
    }
}

std::string messageLengthDetail(std::size_t messageSize, std::size_t maxMessageSize) {
    return "the message is " + std::to_string(messageSize) + " bytes; at most " +
           std::to_string(maxMessageSize) + " fit this key's blocks";
}

// Throws the error (nothing when there is none), with both lengths in
// what() when they are the likely cause: a message longer than the key
// takes, or a block of another length than the key's. The code stays the
// one the block operation gave.
void throwBlockError(const std::error_code& error, std::size_t inputSize, std::size_t blockSize,
                     bool inputIsMessage) {
    if (!error) return;
    const std::size_t maxMessage = blockSize > 11 ? blockSize - 11 : 0;
    if (inputIsMessage && inputSize > maxMessage)
        corvane::detail::throwError(error, messageLengthDetail(inputSize, maxMessage));
    if (!inputIsMessage && inputSize != blockSize)
        corvane::detail::throwError(error, blockLengthDetail(inputSize, blockSize));
    corvane::detail::throwError(error);
}

template <typename Operation>
std::vector<std::uint8_t> runOrThrow(ByteView input, std::size_t blockSize, bool inputIsMessage,
                                     Operation operation) {
    std::error_code error;
    std::vector<std::uint8_t> result = runBlockOperation(input, error, operation);
    throwBlockError(error, input.size(), blockSize, inputIsMessage);
    return result;
}

// A reader's refusal, with the file's path (when there is one) and what
// exactly is wrong (when the reader says) in what().
void throwIfUnread(const KeyStatus& status, const std::string& path = {}) {
    if (!status.error) return;
    std::string what = path.empty() ? std::string() : "key file " + path;
    if (status.detail != nullptr) what.append(what.empty() ? "" : ": ").append(status.detail);
    if (what.empty()) corvane::detail::throwError(status.error);
    corvane::detail::throwError(status.error, what);
}

// Move assignment of a key: the record and its set-up change hands and the
// source's are wiped.
template <typename Record, typename Storage>
void takeKey(Record& to, Storage& toPrepared, Record& from, Storage& fromPrepared) noexcept {
    if (&to == &from) return;
    to = from;
    std::memcpy(toPrepared, fromPrepared, sizeof toPrepared);
    secure_zero_object(from);
    secure_zero_object(fromPrepared);
}

// A key check's refusal, with what exactly is wrong in what().
void throwIfRefused(ErrorCode code, const char* why) {
    if (code == ErrorCode::ok) return;
    if (why != nullptr) corvane::detail::throwError(code, why);
    corvane::detail::throwError(code);
}

void checkRecordBits(unsigned bits) {
    if (bits == 0) corvane::detail::throwError(ErrorCode::keyInvalid);
    if (bits > MAX_RSA_MODULUS_BITS) corvane::detail::throwError(ErrorCode::keyTooLarge);
}

}  // namespace

// ---------------------------------------------------------------------------
// RsaPublicKey

RsaPublicKey::RsaPublicKey() noexcept {
    std::memset(&record_, 0, sizeof record_);
    std::memset(prepared_, 0, sizeof prepared_);
}

RsaPublicKey::RsaPublicKey(RsaPublicKey&& other) noexcept : record_(other.record_) {
    std::memcpy(prepared_, other.prepared_, sizeof prepared_);
    secure_zero_object(other.record_);
    secure_zero_object(other.prepared_);
}

RsaPublicKey& RsaPublicKey::operator=(RsaPublicKey&& other) noexcept {
    takeKey(record_, prepared_, other.record_, other.prepared_);
    return *this;
}

RsaPublicKey::~RsaPublicKey() {
    secure_zero_object(record_);
    secure_zero_object(prepared_);
}

// The arithmetic's set-up of a key, made from its record when the key is
// made (friends of the key classes, so that their header names no helper).
struct detail::RsaKeySetUp {
    static void prepare(RsaPublicKey& key) noexcept {
        rsa_blocks::prepare(*new (key.prepared_) PreparedPublicKey, key.record_);
    }
    static void prepare(RsaPrivateKey& key) {
        const std::error_code error =
            corvane::detail::preparePrivateKey(*new (key.prepared_) PrivateKeySetUp, key.record_);
        // The set-up's temporaries held the primes.
        engine::scrubStack();
        corvane::detail::throwIfError(error);
    }
};

RsaPublicKey RsaPublicKey::fromEncoded(ByteView pemOrDer, const KeyPassphrase& passphrase,
                                       const KeyReadOptions& options) {
    RsaPublicKey key;
    throwIfUnread(loadRsaPublicKey(pemOrDer.span(), key.record_, passphrase, options));
    detail::RsaKeySetUp::prepare(key);
    return key;
}

RsaPublicKey RsaPublicKey::fromFile(const std::string& path, const KeyPassphrase& passphrase,
                                    const KeyReadOptions& options) {
    RsaPublicKey key;
    throwIfUnread(loadRsaPublicKeyFile(path.c_str(), key.record_, passphrase, options), path);
    detail::RsaKeySetUp::prepare(key);
    return key;
}

RsaPublicKey RsaPublicKey::fromHex(std::string_view modulus, std::string_view exponent) {
    RsaPublicKey key;
    throwIfUnread(rsaPublicKeyFromHex(modulus, exponent, key.record_));
    detail::RsaKeySetUp::prepare(key);
    return key;
}

RsaPublicKey RsaPublicKey::fromRecord(const R_RSA_PUBLIC_KEY& record) {
    checkRecordBits(record.bits);
    // The readers' checks: a usable modulus and exponent.
    const char* why = nullptr;
    throwIfRefused(corvane::detail::checkPublicFields(record.modulus, record.exponent, &why), why);
    RsaPublicKey key;
    key.record_ = record;
    detail::RsaKeySetUp::prepare(key);
    return key;
}

RsaHexKey RsaPublicKey::toHex() const {
    RsaHexKey hex;
    corvane::detail::throwIfError(rsaPublicKeyToHex(record_, hex));
    return hex;
}

std::string RsaPublicKey::toPem(RsaKeyFormat format) const {
    std::string pem;
    corvane::detail::throwIfError(rsaPublicKeyToPem(record_, pem, format));
    return pem;
}

std::vector<std::uint8_t> RsaPublicKey::toDer(RsaKeyFormat format) const {
    std::vector<std::uint8_t> der;
    corvane::detail::throwIfError(rsaPublicKeyToDer(record_, der, format));
    return der;
}

std::vector<std::uint8_t> RsaPublicKey::encrypt(ByteView message) const {
    RandomPool pool;
    return encrypt(message, pool);
}

std::vector<std::uint8_t> RsaPublicKey::encrypt(ByteView message, RandomPool& pool) const {
    return runOrThrow(
        message, blockSize(), true,
        [&](unsigned char* out, std::uint32_t* outLen, const unsigned char* in, std::uint32_t inLen) {
            return rsa_blocks::publicEncrypt(out, outLen, in, inLen, record_,
                                             preparedIn<PreparedPublicKey>(prepared_), &pool.record());
        });
}

std::vector<std::uint8_t> RsaPublicKey::recover(ByteView signature, std::error_code& error) const noexcept {
    return runBlockOperation(
        signature, error,
        [&](unsigned char* out, std::uint32_t* outLen, const unsigned char* in, std::uint32_t inLen) {
            return rsa_blocks::publicDecrypt(out, outLen, in, inLen, record_,
                                             preparedIn<PreparedPublicKey>(prepared_));
        });
}

std::vector<std::uint8_t> RsaPublicKey::recover(ByteView signature) const {
    std::error_code error;
    std::vector<std::uint8_t> message = recover(signature, error);
    throwBlockError(error, signature.size(), blockSize(), false);
    return message;
}

// ---------------------------------------------------------------------------
// RsaPrivateKey

RsaPrivateKey::RsaPrivateKey() noexcept {
    std::memset(&record_, 0, sizeof record_);
    std::memset(prepared_, 0, sizeof prepared_);
}

RsaPrivateKey::RsaPrivateKey(RsaPrivateKey&& other) noexcept : record_(other.record_) {
    std::memcpy(prepared_, other.prepared_, sizeof prepared_);
    secure_zero_object(other.record_);
    secure_zero_object(other.prepared_);
}

RsaPrivateKey& RsaPrivateKey::operator=(RsaPrivateKey&& other) noexcept {
    takeKey(record_, prepared_, other.record_, other.prepared_);
    return *this;
}

RsaPrivateKey::~RsaPrivateKey() {
    secure_zero_object(record_);
    secure_zero_object(prepared_);
}

RsaPrivateKey RsaPrivateKey::fromEncoded(ByteView pemOrDer, const KeyPassphrase& passphrase,
                                         const KeyReadOptions& options) {
    RsaPrivateKey key;
    throwIfUnread(loadRsaPrivateKey(pemOrDer.span(), key.record_, passphrase, options));
    detail::RsaKeySetUp::prepare(key);
    return key;
}

RsaPrivateKey RsaPrivateKey::fromFile(const std::string& path, const KeyPassphrase& passphrase,
                                      const KeyReadOptions& options) {
    RsaPrivateKey key;
    throwIfUnread(loadRsaPrivateKeyFile(path.c_str(), key.record_, passphrase, options), path);
    detail::RsaKeySetUp::prepare(key);
    return key;
}

RsaPrivateKey RsaPrivateKey::fromRecord(const R_RSA_PRIVATE_KEY& record) {
    checkRecordBits(record.bits);
    // The readers' checks: a key whose values do not fit together would sign
    // wrongly, and a wrong CRT signature gives a prime away.
    const char* why = nullptr;
    throwIfRefused(corvane::detail::checkPrivateKey(record, &why), why);
    RsaPrivateKey key;
    key.record_ = record;
    detail::RsaKeySetUp::prepare(key);
    return key;
}

RsaPublicKey RsaPrivateKey::publicKey() const noexcept {
    RsaPublicKey key;
    key.record_.bits = record_.bits;
    std::memcpy(key.record_.modulus, record_.modulus, sizeof record_.modulus);
    std::memcpy(key.record_.exponent, record_.publicExponent, sizeof record_.publicExponent);
    // The same n and e: the private key's public half is the public key's set-up.
    new (key.prepared_) PreparedPublicKey(preparedIn<PrivateKeySetUp>(prepared_).engine.publicKey);
    return key;
}

std::string RsaPrivateKey::toPem(RsaKeyFormat format, std::string_view passphrase) const {
    std::string pem;
    corvane::detail::throwIfError(rsaPrivateKeyToPem(record_, pem, format, passphrase));
    return pem;
}

std::vector<std::uint8_t> RsaPrivateKey::toDer(RsaKeyFormat format, std::string_view passphrase) const {
    std::vector<std::uint8_t> der;
    corvane::detail::throwIfError(rsaPrivateKeyToDer(record_, der, format, passphrase));
    return der;
}

std::vector<std::uint8_t> RsaPrivateKey::decrypt(ByteView block, std::error_code& error) const noexcept {
    return runBlockOperation(
        block, error,
        [&](unsigned char* out, std::uint32_t* outLen, const unsigned char* in, std::uint32_t inLen) {
            return rsa_blocks::privateDecrypt(out, outLen, in, inLen, record_,
                                              preparedIn<PrivateKeySetUp>(prepared_).engine);
        });
}

std::vector<std::uint8_t> RsaPrivateKey::decrypt(ByteView block) const {
    std::error_code error;
    std::vector<std::uint8_t> message = decrypt(block, error);
    throwBlockError(error, block.size(), blockSize(), false);
    return message;
}

std::vector<std::uint8_t> RsaPrivateKey::decrypt(ByteView block, RsaRejection rejection,
                                                 std::error_code& error) const noexcept {
    if (rejection == RsaRejection::report) return decrypt(block, error);
    error.clear();
    corvane::detail::SecretScratch<std::uint8_t[MAX_RSA_MODULUS_LEN]> message;
    std::size_t messageLen = 0;
    error = corvane::detail::decryptImplicit(record_, preparedIn<PrivateKeySetUp>(prepared_),
                                             corvane::detail::bytesOrEmpty(block), block.size(), message.value,
                                             &messageLen);
    return error ? std::vector<std::uint8_t>() : copyOut(message.value, messageLen, error);
}

std::vector<std::uint8_t> RsaPrivateKey::decrypt(ByteView block, RsaRejection rejection) const {
    std::error_code error;
    std::vector<std::uint8_t> message = decrypt(block, rejection, error);
    throwBlockError(error, block.size(), blockSize(), false);
    return message;
}

std::vector<std::uint8_t> RsaPrivateKey::decryptKey(ByteView block, std::size_t keySize,
                                                    std::error_code& error) const noexcept {
    error.clear();
    corvane::detail::SecretScratch<std::uint8_t[MAX_RSA_MODULUS_LEN]> key;
    error = corvane::detail::decryptKey(record_, preparedIn<PrivateKeySetUp>(prepared_),
                                        corvane::detail::bytesOrEmpty(block), block.size(), key.value, keySize);
    return error ? std::vector<std::uint8_t>() : copyOut(key.value, keySize, error);
}

std::vector<std::uint8_t> RsaPrivateKey::decryptKey(ByteView block, std::size_t keySize) const {
    std::error_code error;
    std::vector<std::uint8_t> key = decryptKey(block, keySize, error);
    if (error == ErrorCode::invalidInput)
        corvane::detail::throwError(error, keySizeDetail(keySize, maxMessageSize()));
    if (error == ErrorCode::badLength && block.size() != blockSize())
        corvane::detail::throwError(error, blockLengthDetail(block.size(), blockSize()));
    corvane::detail::throwIfError(error);
    return key;
}

std::vector<std::uint8_t> RsaPrivateKey::sign(ByteView message) const {
    return runOrThrow(
        message, blockSize(), true,
        [&](unsigned char* out, std::uint32_t* outLen, const unsigned char* in, std::uint32_t inLen) {
            return rsa_blocks::privateEncrypt(out, outLen, in, inLen, record_,
                                              preparedIn<PrivateKeySetUp>(prepared_).engine);
        });
}

}  // namespace corvane::v1

// ---------------------------------------------------------------------------
// Batches: public encryption item by item on the key's set-up; private
// decryption and signing through the block layer's batch, which runs up to
// eight items' exponentiations at once where the CPU allows.

namespace corvane::v1 {

namespace {

template <typename Operation>
std::vector<RsaBatchResult> runBatch(std::span<const ByteView> inputs, Operation operation) {
    std::vector<RsaBatchResult> results(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); i++)
        results[i].bytes = runBlockOperation(inputs[i], results[i].error, operation);
    return results;
}

// The items handed to the block layer at once: several engine batches, so
// that items refused for their length or value leave no lane idle.
constexpr std::size_t kItemsPerCall = 4 * engine::kRsaBatchMax;

// Runs `batch(items, count)` over the inputs, a slice at a time, and
// collects each item's result or error. The items' buffers held
// plaintexts: they are wiped after each slice.
template <typename Batch>
std::vector<RsaBatchResult> runPrivateBatch(std::span<const ByteView> inputs, Batch batch) {
    std::vector<RsaBatchResult> results(inputs.size());
    corvane::detail::SecretScratch<rsa_blocks::BatchItem[kItemsPerCall]> scratch;
    rsa_blocks::BatchItem (&items)[kItemsPerCall] = scratch.value;
    for (std::size_t start = 0; start < inputs.size(); start += kItemsPerCall) {
        const std::size_t count = std::min(kItemsPerCall, inputs.size() - start);
        for (std::size_t i = 0; i < count; i++) {
            const ByteView input = inputs[start + i];
            items[i].input = corvane::detail::bytesOrEmpty(input);
            // Longer than any length field: refused for its length (badLength)
            // before a byte of it is read.
            items[i].inputLen = static_cast<std::uint32_t>(
                std::min<std::size_t>(input.size(), std::numeric_limits<std::uint32_t>::max()));
            items[i].outputLen = 0;
        }
        batch(items, count);
        for (std::size_t i = 0; i < count; i++) {
            RsaBatchResult& result = results[start + i];
            const rsa_blocks::BatchItem& item = items[i];
            if (item.status != 0) {
                result.error = static_cast<ErrorCode>(item.status);
                continue;
            }
            try {
                result.bytes.assign(item.output, item.output + std::min<std::size_t>(item.outputLen, sizeof item.output));
            } catch (const std::bad_alloc&) {
                result.error = ErrorCode::outOfMemory;
            }
        }
        secure_zero(items, sizeof items);
    }
    return results;
}

}  // namespace

std::vector<RsaBatchResult> RsaPublicKey::encryptBatch(std::span<const ByteView> messages) const {
    RandomPool pool;
    return encryptBatch(messages, pool);
}

std::vector<RsaBatchResult> RsaPublicKey::encryptBatch(std::span<const ByteView> messages, RandomPool& pool) const {
    const PreparedPublicKey& prepared = preparedIn<PreparedPublicKey>(prepared_);
    return runBatch(messages, [&](unsigned char* out, std::uint32_t* outLen, const unsigned char* in,
                                  std::uint32_t inLen) {
        return rsa_blocks::publicEncrypt(out, outLen, in, inLen, record_, prepared, &pool.record());
    });
}

std::vector<RsaBatchResult> RsaPrivateKey::decryptBatch(std::span<const ByteView> blocks) const {
    return runPrivateBatch(blocks, [&](rsa_blocks::BatchItem* items, std::size_t count) {
        rsa_blocks::privateDecryptBatch(items, count, record_, preparedIn<PrivateKeySetUp>(prepared_).engine);
    });
}

namespace {

// After the raw operations of a slice: each item whose operation succeeded
// turned by `finish(em, item)` into its answer (message or substitute) in
// place, an error from it recorded as the item's status. The decrypted
// blocks are wiped, and the stack the derivations used.
template <typename Finish>
void finishRawItems(rsa_blocks::BatchItem* items, std::size_t count, Finish finish) noexcept {
    std::uint8_t em[MAX_RSA_MODULUS_LEN];
    for (std::size_t i = 0; i < count; i++) {
        rsa_blocks::BatchItem& item = items[i];
        if (item.status != 0) continue;
        std::memcpy(em, item.output, sizeof em);
        secure_zero(item.output, sizeof item.output);
        const std::error_code error = finish(em, item);
        if (error) {
            item.status = error.value();
            secure_zero(item.output, sizeof item.output);
        }
    }
    secure_zero(em, sizeof em);
    engine::scrubStack();
}

}  // namespace

std::vector<RsaBatchResult> RsaPrivateKey::decryptBatch(std::span<const ByteView> blocks,
                                                        RsaRejection rejection) const {
    if (rejection == RsaRejection::report) return decryptBatch(blocks);
    const PrivateKeySetUp& setUp = preparedIn<PrivateKeySetUp>(prepared_);
    return runPrivateBatch(blocks, [&](rsa_blocks::BatchItem* items, std::size_t count) {
        rsa_blocks::privateRawBatch(items, count, record_, setUp.engine);
        finishRawItems(items, count, [&](const std::uint8_t* em, rsa_blocks::BatchItem& item) {
            std::size_t length = 0;
            const std::error_code error = corvane::detail::implicitMessage(
                em, item.outputLen, item.input, item.inputLen, setUp.rejectionSecret, item.output, &length);
            item.outputLen = static_cast<std::uint32_t>(length);
            return error;
        });
    });
}

std::vector<RsaBatchResult> RsaPrivateKey::decryptKeyBatch(std::span<const ByteView> blocks,
                                                           std::size_t keySize) const {
    if (!corvane::detail::keySizeFits(keySize, blockSize()))
        corvane::detail::throwError(ErrorCode::invalidInput, keySizeDetail(keySize, maxMessageSize()));
    const PrivateKeySetUp& setUp = preparedIn<PrivateKeySetUp>(prepared_);
    const std::size_t k = blockSize();
    return runPrivateBatch(blocks, [&](rsa_blocks::BatchItem* items, std::size_t count) {
        rsa_blocks::privateRawBatch(items, count, record_, setUp.engine);
        finishRawItems(items, count, [&](const std::uint8_t* em, rsa_blocks::BatchItem& item) -> std::error_code {
            // A block shorter than the modulus is refused, as decryptKey
            // refuses it (its length is public).
            if (item.inputLen != k) return ErrorCode::badLength;
            item.outputLen = static_cast<std::uint32_t>(keySize);
            return corvane::detail::keyOrSubstitute(em, k, item.input, setUp.rejectionSecret, item.output, keySize);
        });
    });
}

std::vector<RsaBatchResult> RsaPrivateKey::signBatch(std::span<const ByteView> messages) const {
    return runPrivateBatch(messages, [&](rsa_blocks::BatchItem* items, std::size_t count) {
        rsa_blocks::privateEncryptBatch(items, count, record_, preparedIn<PrivateKeySetUp>(prepared_).engine);
    });
}

}  // namespace corvane::v1

// The forms that report a failure in an ErrorInfo instead of throwing it:
// each runs the throwing form and keeps what its Error says, so the code
// and the message are exactly the exception's.
namespace corvane::v1 {

std::optional<RsaPublicKey> RsaPublicKey::fromEncoded(ByteView pemOrDer, const KeyPassphrase& passphrase,
                                                      const KeyReadOptions& options, ErrorInfo& error) noexcept {
    return corvane::detail::reportInto(error, [&] { return std::optional(fromEncoded(pemOrDer, passphrase, options)); });
}

std::optional<RsaPublicKey> RsaPublicKey::fromFile(const std::string& path, const KeyPassphrase& passphrase,
                                                   const KeyReadOptions& options, ErrorInfo& error) noexcept {
    return corvane::detail::reportInto(error, [&] { return std::optional(fromFile(path, passphrase, options)); });
}

std::vector<std::uint8_t> RsaPublicKey::encrypt(ByteView message, RandomPool& pool, ErrorInfo& error) const noexcept {
    return corvane::detail::reportInto(error, [&] { return encrypt(message, pool); });
}

std::vector<std::uint8_t> RsaPublicKey::recover(ByteView signature, ErrorInfo& error) const noexcept {
    return corvane::detail::reportInto(error, [&] { return recover(signature); });
}

std::optional<RsaPrivateKey> RsaPrivateKey::fromEncoded(ByteView pemOrDer, const KeyPassphrase& passphrase,
                                                        const KeyReadOptions& options, ErrorInfo& error) noexcept {
    return corvane::detail::reportInto(error, [&] { return std::optional(fromEncoded(pemOrDer, passphrase, options)); });
}

std::optional<RsaPrivateKey> RsaPrivateKey::fromFile(const std::string& path, const KeyPassphrase& passphrase,
                                                     const KeyReadOptions& options, ErrorInfo& error) noexcept {
    return corvane::detail::reportInto(error, [&] { return std::optional(fromFile(path, passphrase, options)); });
}

std::vector<std::uint8_t> RsaPrivateKey::decrypt(ByteView block, ErrorInfo& error) const noexcept {
    return corvane::detail::reportInto(error, [&] { return decrypt(block); });
}

std::vector<std::uint8_t> RsaPrivateKey::decrypt(ByteView block, RsaRejection rejection,
                                                 ErrorInfo& error) const noexcept {
    return corvane::detail::reportInto(error, [&] { return decrypt(block, rejection); });
}

std::vector<std::uint8_t> RsaPrivateKey::decryptKey(ByteView block, std::size_t keySize,
                                                    ErrorInfo& error) const noexcept {
    return corvane::detail::reportInto(error, [&] { return decryptKey(block, keySize); });
}

std::vector<std::uint8_t> RsaPrivateKey::sign(ByteView message, ErrorInfo& error) const noexcept {
    return corvane::detail::reportInto(error, [&] { return sign(message); });
}

}  // namespace corvane::v1
