// Implicit rejection for PKCS #1 v1.5 type-2 blocks (implicit_rejection.h).
#include <Corvane/modern/rsa.hpp>
#include "modern/rsa/implicit_rejection.h"

#include <openssl/evp.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>

#include "engine/bignum/ct.h"
#include "engine/ct/declassify.h"
#include "engine/ct/stack_scrub.h"
#include "modern/support/openssl_handles.h"
#include "myrsa/rsa_blocks.h"
#include "platform/secure_zero.h"

namespace corvane::detail {

namespace {

namespace ct = engine::ct;
using engine::Word;

constexpr std::size_t kDigestSize = 32;
constexpr std::size_t kHashBlock = 64;
// The published algorithm draws 128 candidate lengths of 2 bytes each.
constexpr std::size_t kLengthCandidates = 128;
constexpr std::size_t kLengthBytes = 2 * kLengthCandidates;
constexpr std::string_view kMessageLabel = "message";
constexpr std::string_view kLengthLabel = "length";

using Digest = std::array<std::uint8_t, kDigestSize>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;

// libcrypto's SHA-256, fetched once for the process.
const EVP_MD* sha256() noexcept {
    static EVP_MD* const md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return md;
}

// SHA-256 and HMAC-SHA256 over pieces of bytes, on one digest context. Its
// state is freed (and cleared by libcrypto) with the object.
class Hasher {
public:
    Hasher() noexcept : ctx_(EVP_MD_CTX_new()) {}
    bool ready() const noexcept { return ctx_ != nullptr && sha256() != nullptr; }

    bool hash(std::initializer_list<std::span<const std::uint8_t>> pieces, std::uint8_t* out) noexcept {
        if (EVP_DigestInit_ex(ctx_.get(), sha256(), nullptr) != 1) return false;
        for (std::span<const std::uint8_t> piece : pieces)
            if (!piece.empty() && EVP_DigestUpdate(ctx_.get(), piece.data(), piece.size()) != 1) return false;
        return EVP_DigestFinal_ex(ctx_.get(), out, nullptr) == 1;
    }

    // HMAC-SHA256 under a 32-byte key (shorter than the hash block, so it
    // is used as it is, zero-padded).
    bool hmac(const std::uint8_t* key, std::initializer_list<std::span<const std::uint8_t>> pieces,
              std::uint8_t* out) noexcept {
        std::uint8_t pad[kHashBlock];
        std::uint8_t inner[kDigestSize];
        for (std::size_t i = 0; i < kHashBlock; i++)
            pad[i] = static_cast<std::uint8_t>((i < kDigestSize ? key[i] : 0) ^ 0x36);
        bool ok = EVP_DigestInit_ex(ctx_.get(), sha256(), nullptr) == 1 &&
                  EVP_DigestUpdate(ctx_.get(), pad, sizeof pad) == 1;
        for (std::span<const std::uint8_t> piece : pieces)
            ok = ok && (piece.empty() || EVP_DigestUpdate(ctx_.get(), piece.data(), piece.size()) == 1);
        ok = ok && EVP_DigestFinal_ex(ctx_.get(), inner, nullptr) == 1;
        for (std::size_t i = 0; i < kHashBlock; i++)
            pad[i] = static_cast<std::uint8_t>((i < kDigestSize ? key[i] : 0) ^ 0x5c);
        ok = ok && hash({pad, inner}, out);
        secure_zero(pad, sizeof pad);
        secure_zero(inner, sizeof inner);
        return ok;
    }

private:
    MdCtxPtr ctx_;
};

std::span<const std::uint8_t> bytesOf(std::string_view text) noexcept {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Blocks first..first + count - 1 of PRF(label, bits) under kdk, into out
// (count * 32 bytes).
bool prfBlocks(Hasher& hasher, const std::uint8_t* kdk, std::string_view label, std::size_t bits,
               std::size_t first, std::size_t count, std::uint8_t* out) noexcept {
    const std::uint8_t bitCount[2] = {static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
    for (std::size_t i = 0; i < count; i++) {
        const std::size_t index = first + i;
        const std::uint8_t counter[2] = {static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(index)};
        if (!hasher.hmac(kdk, {counter, bytesOf(label), bitCount}, out + i * kDigestSize)) return false;
    }
    return true;
}

// kdk = HMAC(secret, ciphertext left-padded with zeros to k bytes).
bool derivationKey(Hasher& hasher, const std::uint8_t* secret, const std::uint8_t* ciphertext,
                   std::size_t ciphertextLen, std::size_t k, std::uint8_t* kdk) noexcept {
    static const std::uint8_t kZeros[MAX_RSA_MODULUS_LEN] = {};
    return hasher.hmac(secret, {std::span(kZeros, k - ciphertextLen), std::span(ciphertext, ciphertextLen)}, kdk);
}

// The buffers of one derivation, wiped however the operation ends.
struct Scratch {
    std::uint8_t kdk[kDigestSize];
    // PRF("message", 8k), whole 32-byte blocks (k is at most 128).
    std::uint8_t message[MAX_RSA_MODULUS_LEN];
    std::uint8_t lengths[kLengthBytes];
    ~Scratch() { secure_zero(this, sizeof *this); }
};

std::uint8_t selectByte(Word mask, std::uint8_t a, std::uint8_t b) noexcept {
    return static_cast<std::uint8_t>(ct::select(mask, a, b));
}

// The length of the substitute message: the last of the candidates, each
// masked to the bit length of k - 10, that lies below k - 10; 0 when none
// does (a chance of 2^-128).
Word syntheticLength(const std::uint8_t* lengths, std::size_t k) noexcept {
    const Word limit = static_cast<Word>(k - 10);  // k is at most 128
    Word mask = limit;
    for (unsigned shift : {1u, 2u, 4u, 8u}) mask |= mask >> shift;
    Word length = 0;
    for (std::size_t i = 0; i < kLengthBytes; i += 2) {
        const Word candidate = ((static_cast<Word>(lengths[i]) << 8) | lengths[i + 1]) & mask;
        length = ct::select(ct::less(candidate, limit), candidate, length);
    }
    return length;
}

std::error_code statusError(std::int32_t status) noexcept {
    return status == QV_STATUS_BAD_LENGTH ? ErrorCode::badLength : ErrorCode::badData;
}

// Runs the raw operation on the block into a stack block, hands it to
// `then`, and wipes it and the stack the operation used.
template <typename Then>
std::error_code afterRawOperation(const R_RSA_PRIVATE_KEY& key, const PrivateKeySetUp& setUp,
                                  const std::uint8_t* block, std::size_t blockLen, Then then) noexcept {
    std::uint8_t em[MAX_RSA_MODULUS_LEN];
    std::uint32_t emLen = 0;
    const std::int32_t status = rsa_blocks::privateRaw(em, &emLen, block, static_cast<std::uint32_t>(blockLen), key,
                                                       setUp.engine);
    std::error_code error = status != 0 ? statusError(status) : then(em, static_cast<std::size_t>(emLen));
    secure_zero(em, sizeof em);
    engine::scrubStack();
    return error;
}

std::size_t modulusLength(const R_RSA_PRIVATE_KEY& key) noexcept { return (key.bits + 7u) / 8u; }

}  // namespace

std::error_code preparePrivateKey(PrivateKeySetUp& setUp, const R_RSA_PRIVATE_KEY& key) noexcept {
    rsa_blocks::prepare(setUp.engine, key);
    // d as k bytes where it fits (every key made the usual way), else its
    // whole field: the two hashes are made and one is kept by a mask, so
    // that d's length decides no branch.
    const std::size_t k = modulusLength(key);
    const std::size_t field = sizeof key.privateExponent;
    Word wider = 0;
    for (std::size_t i = 0; i + k < field; i++) wider |= key.privateExponent[i];
    wider = ct::isNonZero(wider);
    Digest fitted{}, whole{};
    Hasher hasher;
    const bool ok = hasher.ready() &&
                    hasher.hash({std::span<const std::uint8_t>(key.privateExponent + field - k, k)}, fitted.data()) &&
                    hasher.hash({std::span<const std::uint8_t>(key.privateExponent, field)}, whole.data());
    for (std::size_t i = 0; i < kDigestSize; i++) setUp.rejectionSecret[i] = selectByte(wider, whole[i], fitted[i]);
    secure_zero(fitted.data(), fitted.size());
    secure_zero(whole.data(), whole.size());
    if (!ok) {
        secure_zero_object(setUp);
        return ErrorCode::outOfMemory;
    }
    return {};
}

std::error_code implicitMessage(const std::uint8_t* em, std::size_t k, const std::uint8_t* ciphertext,
                                std::size_t ciphertextLen, const std::uint8_t* secret, std::uint8_t* out,
                                std::size_t* outLen) noexcept {
    Scratch scratch;
    Hasher hasher;
    const std::size_t messageBlocks = (k + kDigestSize - 1) / kDigestSize;
    if (!hasher.ready() || !derivationKey(hasher, secret, ciphertext, ciphertextLen, k, scratch.kdk) ||
        !prfBlocks(hasher, scratch.kdk, kMessageLabel, 8 * k, 0, messageBlocks, scratch.message) ||
        !prfBlocks(hasher, scratch.kdk, kLengthLabel, 8 * kLengthBytes, 0, kLengthBytes / kDigestSize,
                   scratch.lengths))
        return ErrorCode::outOfMemory;
    const Word synthetic = syntheticLength(scratch.lengths, k);

    // The block's own message: 00 02, at least 8 non-zero bytes, 00.
    Word good = ct::isZero(em[0]) & ct::equal(em[1], 2);
    Word separator = 0, found = 0;
    for (std::size_t i = 2; i < k; i++) {
        const Word isSeparator = ct::isZero(em[i]);
        separator = ct::select(isSeparator & ~found, static_cast<Word>(i), separator);
        found |= isSeparator;
    }
    good &= ~ct::less(separator, 10);
    Word start = ct::select(good, separator + 1, static_cast<Word>(k) - synthetic);
    // The length is the caller's to know, and it does not tell a message
    // from a substitute: from here on it may decide the loop.
    engine::declassify(&start, sizeof start);
    for (std::size_t i = start; i < k; i++) out[i - start] = selectByte(good, em[i], scratch.message[i]);
    *outLen = k - start;
    return {};
}

std::error_code keyOrSubstitute(const std::uint8_t* em, std::size_t k, const std::uint8_t* ciphertext,
                                const std::uint8_t* secret, std::uint8_t* out, std::size_t keySize) noexcept {
    Scratch scratch;
    Hasher hasher;
    // Only the PRF blocks that hold the last keySize bytes.
    const std::size_t first = (k - keySize) / kDigestSize;
    const std::size_t blocks = (k - 1) / kDigestSize + 1 - first;
    if (!hasher.ready() || !derivationKey(hasher, secret, ciphertext, k, k, scratch.kdk) ||
        !prfBlocks(hasher, scratch.kdk, kMessageLabel, 8 * k, first, blocks, scratch.message + first * kDigestSize))
        return ErrorCode::outOfMemory;

    // 00 02, non-zero filler up to the separator that leaves keySize bytes.
    const std::size_t separator = k - keySize - 1;
    Word good = ct::isZero(em[0]) & ct::equal(em[1], 2) & ct::isZero(em[separator]);
    for (std::size_t i = 2; i < separator; i++) good &= ct::isNonZero(em[i]);
    for (std::size_t i = 0; i < keySize; i++) out[i] = selectByte(good, em[k - keySize + i], scratch.message[k - keySize + i]);
    return {};
}

std::error_code decryptImplicit(const R_RSA_PRIVATE_KEY& key, const PrivateKeySetUp& setUp,
                                const std::uint8_t* block, std::size_t blockLen, std::uint8_t* out,
                                std::size_t* outLen) noexcept {
    const std::size_t k = modulusLength(key);
    if (blockLen > k) return ErrorCode::badLength;
    return afterRawOperation(key, setUp, block, blockLen, [&](const std::uint8_t* em, std::size_t emLen) {
        return implicitMessage(em, emLen, block, blockLen, setUp.rejectionSecret, out, outLen);
    });
}

std::error_code decryptKey(const R_RSA_PRIVATE_KEY& key, const PrivateKeySetUp& setUp, const std::uint8_t* block,
                           std::size_t blockLen, std::uint8_t* out, std::size_t keySize) noexcept {
    const std::size_t k = modulusLength(key);
    if (blockLen != k) return ErrorCode::badLength;
    if (!keySizeFits(keySize, k)) return ErrorCode::invalidInput;
    return afterRawOperation(key, setUp, block, blockLen, [&](const std::uint8_t* em, std::size_t emLen) {
        return keyOrSubstitute(em, emLen, block, setUp.rejectionSecret, out, keySize);
    });
}

}  // namespace corvane::detail
