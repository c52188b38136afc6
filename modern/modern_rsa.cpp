// The modern layer's RSA: key objects holding the legacy records, and the
// four block operations over them.
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "key_checks.h"
#include "modern_support.h"
#include "secure_zero.h"

namespace corvane::v1 {

namespace {

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
    unsigned char block[MAX_RSA_MODULUS_LEN];
    std::uint32_t blockLen = 0;
    std::int32_t status = operation(block, &blockLen, corvane::detail::bytesOrEmpty(input),
                                    static_cast<std::uint32_t>(input.size()));
    std::vector<std::uint8_t> result;
    if (status != 0) {
        error = static_cast<ErrorCode>(status);
    } else {
        try {
            result.assign(block, block + (blockLen <= sizeof block ? blockLen : sizeof block));
        } catch (const std::bad_alloc&) {
            error = ErrorCode::outOfMemory;
        }
    }
    secure_zero(block, sizeof block);
    return result;
}

// What a failed block operation's exception says besides its code: both
// lengths when the input's length is the likely cause.
std::string blockLengthDetail(std::size_t inputSize, std::size_t blockSize) {
    return "the block is " + std::to_string(inputSize) + " bytes; this key's blocks are " +
           std::to_string(blockSize) + " bytes";
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

// Move assignment of a key: the record changes hands and the source is wiped.
template <typename Record>
void takeRecord(Record& to, Record& from) noexcept {
    if (&to == &from) return;
    to = from;
    secure_zero_object(from);
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

RsaPublicKey::RsaPublicKey() noexcept { std::memset(&record_, 0, sizeof record_); }

RsaPublicKey::RsaPublicKey(RsaPublicKey&& other) noexcept : record_(other.record_) {
    secure_zero_object(other.record_);
}

RsaPublicKey& RsaPublicKey::operator=(RsaPublicKey&& other) noexcept {
    takeRecord(record_, other.record_);
    return *this;
}

RsaPublicKey::~RsaPublicKey() { secure_zero_object(record_); }

RsaPublicKey RsaPublicKey::fromEncoded(ByteView pemOrDer, const KeyPassphrase& passphrase) {
    RsaPublicKey key;
    throwIfUnread(loadRsaPublicKey(pemOrDer.span(), key.record_, passphrase));
    return key;
}

RsaPublicKey RsaPublicKey::fromFile(const std::string& path, const KeyPassphrase& passphrase) {
    RsaPublicKey key;
    throwIfUnread(loadRsaPublicKeyFile(path.c_str(), key.record_, passphrase), path);
    return key;
}

RsaPublicKey RsaPublicKey::fromHex(std::string_view modulus, std::string_view exponent) {
    RsaPublicKey key;
    throwIfUnread(rsaPublicKeyFromHex(modulus, exponent, key.record_));
    return key;
}

RsaPublicKey RsaPublicKey::fromRecord(const R_RSA_PUBLIC_KEY& record) {
    checkRecordBits(record.bits);
    // The readers' checks: a usable modulus and exponent.
    const char* why = nullptr;
    throwIfRefused(corvane::detail::checkPublicFields(record.modulus, record.exponent, &why), why);
    RsaPublicKey key;
    key.record_ = record;
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

std::vector<std::uint8_t> RsaPublicKey::encrypt(ByteView message) const {
    RandomPool pool;
    return encrypt(message, pool);
}

std::vector<std::uint8_t> RsaPublicKey::encrypt(ByteView message, RandomPool& pool) const {
    return runOrThrow(
        message, blockSize(), true,
        [&](unsigned char* out, std::uint32_t* outLen, const unsigned char* in, std::uint32_t inLen) {
            return QV_RSAPublicEncrypt(out, outLen, in, inLen, &record_, &pool.record());
        });
}

std::vector<std::uint8_t> RsaPublicKey::recover(ByteView signature, std::error_code& error) const noexcept {
    return runBlockOperation(
        signature, error,
        [&](unsigned char* out, std::uint32_t* outLen, const unsigned char* in, std::uint32_t inLen) {
            return QV_RSAPublicDecrypt(out, outLen, in, inLen, &record_);
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

RsaPrivateKey::RsaPrivateKey() noexcept { std::memset(&record_, 0, sizeof record_); }

RsaPrivateKey::RsaPrivateKey(RsaPrivateKey&& other) noexcept : record_(other.record_) {
    secure_zero_object(other.record_);
}

RsaPrivateKey& RsaPrivateKey::operator=(RsaPrivateKey&& other) noexcept {
    takeRecord(record_, other.record_);
    return *this;
}

RsaPrivateKey::~RsaPrivateKey() { secure_zero_object(record_); }

RsaPrivateKey RsaPrivateKey::fromEncoded(ByteView pemOrDer, const KeyPassphrase& passphrase) {
    RsaPrivateKey key;
    throwIfUnread(loadRsaPrivateKey(pemOrDer.span(), key.record_, passphrase));
    return key;
}

RsaPrivateKey RsaPrivateKey::fromFile(const std::string& path, const KeyPassphrase& passphrase) {
    RsaPrivateKey key;
    throwIfUnread(loadRsaPrivateKeyFile(path.c_str(), key.record_, passphrase), path);
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
    return key;
}

RsaPublicKey RsaPrivateKey::publicKey() const noexcept {
    RsaPublicKey key;
    key.record_.bits = record_.bits;
    std::memcpy(key.record_.modulus, record_.modulus, sizeof record_.modulus);
    std::memcpy(key.record_.exponent, record_.publicExponent, sizeof record_.publicExponent);
    return key;
}

std::string RsaPrivateKey::toPem(RsaKeyFormat format, std::string_view passphrase) const {
    std::string pem;
    corvane::detail::throwIfError(rsaPrivateKeyToPem(record_, pem, format, passphrase));
    return pem;
}

std::vector<std::uint8_t> RsaPrivateKey::decrypt(ByteView block, std::error_code& error) const noexcept {
    return runBlockOperation(
        block, error,
        [&](unsigned char* out, std::uint32_t* outLen, const unsigned char* in, std::uint32_t inLen) {
            return QV_RSAPrivateDecrypt(out, outLen, in, inLen, &record_);
        });
}

std::vector<std::uint8_t> RsaPrivateKey::decrypt(ByteView block) const {
    std::error_code error;
    std::vector<std::uint8_t> message = decrypt(block, error);
    throwBlockError(error, block.size(), blockSize(), false);
    return message;
}

std::vector<std::uint8_t> RsaPrivateKey::sign(ByteView message) const {
    return runOrThrow(
        message, blockSize(), true,
        [&](unsigned char* out, std::uint32_t* outLen, const unsigned char* in, std::uint32_t inLen) {
            return QV_RSAPrivateEncrypt(out, outLen, in, inLen, &record_);
        });
}

}  // namespace corvane::v1

// ---------------------------------------------------------------------------
// Batches: the single-item operations in turn, each item's error kept with
// it.

namespace corvane::v1 {

namespace {

template <typename Operation>
std::vector<RsaBatchResult> runBatch(std::span<const ByteView> inputs, Operation operation) {
    std::vector<RsaBatchResult> results(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); i++)
        results[i].bytes = runBlockOperation(inputs[i], results[i].error, operation);
    return results;
}

}  // namespace

std::vector<RsaBatchResult> RsaPublicKey::encryptBatch(std::span<const ByteView> messages) const {
    RandomPool pool;
    return encryptBatch(messages, pool);
}

std::vector<RsaBatchResult> RsaPublicKey::encryptBatch(std::span<const ByteView> messages, RandomPool& pool) const {
    return runBatch(messages, [&](unsigned char* out, std::uint32_t* outLen, const unsigned char* in,
                                  std::uint32_t inLen) {
        return QV_RSAPublicEncrypt(out, outLen, in, inLen, &record_, &pool.record());
    });
}

std::vector<RsaBatchResult> RsaPrivateKey::decryptBatch(std::span<const ByteView> blocks) const {
    return runBatch(blocks, [&](unsigned char* out, std::uint32_t* outLen, const unsigned char* in,
                                std::uint32_t inLen) { return QV_RSAPrivateDecrypt(out, outLen, in, inLen, &record_); });
}

std::vector<RsaBatchResult> RsaPrivateKey::signBatch(std::span<const ByteView> messages) const {
    return runBatch(messages, [&](unsigned char* out, std::uint32_t* outLen, const unsigned char* in,
                                  std::uint32_t inLen) { return QV_RSAPrivateEncrypt(out, outLen, in, inLen, &record_); });
}

}  // namespace corvane::v1
