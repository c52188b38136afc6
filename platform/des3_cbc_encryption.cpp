#include "platform/des3_cbc_encryption.h"

#include <climits>
#include <cstring>
#include <new>

#include "platform/CommonCrypto.h"
#include "engine/ct/vector_registers.h"
#include "platform/secure_zero.h"

#if defined(__APPLE__) && __has_include(<CommonCrypto/CommonCryptor.h>)
#define CORVANE_APPLE_COMMONCRYPTO 1
#else
#define CORVANE_APPLE_COMMONCRYPTO 0
#endif

#if defined(CORVANE_HAVE_LIBCRYPTO_DES) || CORVANE_APPLE_COMMONCRYPTO

// The key's set-up and the chain kept here: libcrypto's DES key schedules,
// or on Apple the key itself for one CCCrypt a call.
#if !CORVANE_APPLE_COMMONCRYPTO
#include "platform/libcrypto_des.h"
#endif

namespace corvane {

namespace {
struct State {
#if CORVANE_APPLE_COMMONCRYPTO
    std::uint8_t key[kCCKeySize3DES];
#else
    libcrypto_des::Key schedule;
#endif
    std::uint8_t chain[kCCBlockSize3DES];
};
}  // namespace

Des3CbcEncryption::~Des3CbcEncryption() {
    if (context_ == nullptr) return;
    secure_zero(context_, sizeof(State));
    delete static_cast<State*>(context_);
}

bool Des3CbcEncryption::start(const std::uint8_t* key, const std::uint8_t* iv) noexcept {
    if (context_ == nullptr) context_ = new (std::nothrow) State;
    if (context_ == nullptr) return false;
#if CORVANE_APPLE_COMMONCRYPTO
    std::memcpy(static_cast<State*>(context_)->key, key, kCCKeySize3DES);
#else
    libcrypto_des::setKey(static_cast<State*>(context_)->schedule, key);
#endif
    return restart(iv);
}

bool Des3CbcEncryption::restart(const std::uint8_t* iv) noexcept {
    if (context_ == nullptr) return false;
    std::memcpy(static_cast<State*>(context_)->chain, iv, kCCBlockSize3DES);
    return true;
}

bool Des3CbcEncryption::encrypt(const std::uint8_t* in, std::size_t length, std::uint8_t* out) noexcept {
    if (length == 0) return true;
    auto* state = static_cast<State*>(context_);
    bool ok = state != nullptr;
#if CORVANE_APPLE_COMMONCRYPTO
    std::size_t moved = 0;
    ok = ok && CCCrypt(kCCEncrypt, kCCAlgorithm3DES, 0, state->key, kCCKeySize3DES, state->chain, in, length, out,
                       length, &moved) == kCCSuccess;
    if (ok) std::memcpy(state->chain, out + length - kCCBlockSize3DES, kCCBlockSize3DES);
#else
    if (ok) libcrypto_des::encryptCbc(state->schedule, state->chain, in, out, length);
#endif
    if (!ok) secure_zero(out, length);
    // The cipher's last key-schedule words and plaintext are in the vector
    // registers.
    corvane::engine::clearVectorRegisters();
    return ok;
}

}  // namespace corvane

#else

#include <openssl/err.h>
#include <openssl/evp.h>

namespace corvane {

namespace {

EVP_CIPHER_CTX* contextOf(void* p) { return static_cast<EVP_CIPHER_CTX*>(p); }

// libcrypto's failures stay off the thread's error queue, as CCCrypt keeps
// them off: the caller hears of them through the result alone.
class ErrorMark {
public:
    ErrorMark() noexcept { ERR_set_mark(); }
    ~ErrorMark() { ERR_pop_to_mark(); }
    ErrorMark(const ErrorMark&) = delete;
    ErrorMark& operator=(const ErrorMark&) = delete;
};

// EVP counts in int; longer inputs go through in pieces of whole blocks.
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;
static_assert(kMaxPiece % 8 == 0 && kMaxPiece <= INT_MAX);

}  // namespace

Des3CbcEncryption::~Des3CbcEncryption() { EVP_CIPHER_CTX_free(contextOf(context_)); }

bool Des3CbcEncryption::start(const std::uint8_t* key, const std::uint8_t* iv) noexcept {
    const ErrorMark mark;
    if (context_ == nullptr) context_ = EVP_CIPHER_CTX_new();
    EVP_CIPHER_CTX* ctx = contextOf(context_);
    if (ctx == nullptr) return false;
    if (EVP_EncryptInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, key, iv) != 1 || EVP_CIPHER_CTX_set_padding(ctx, 0) != 1) {
        EVP_CIPHER_CTX_free(ctx);
        context_ = nullptr;
        return false;
    }
    return true;
}

bool Des3CbcEncryption::restart(const std::uint8_t* iv) noexcept {
    const ErrorMark mark;
    // No cipher and no key: only the IV changes, the key schedule stays.
    return context_ != nullptr && EVP_EncryptInit_ex(contextOf(context_), nullptr, nullptr, nullptr, iv) == 1;
}

bool Des3CbcEncryption::encrypt(const std::uint8_t* in, std::size_t length, std::uint8_t* out) noexcept {
    const ErrorMark mark;
    bool ok = context_ != nullptr;
    for (std::size_t done = 0; ok && done < length;) {
        const std::size_t piece = length - done < kMaxPiece ? length - done : kMaxPiece;
        int moved = 0;
        ok = EVP_EncryptUpdate(contextOf(context_), out + done, &moved, in + done, static_cast<int>(piece)) == 1 &&
             static_cast<std::size_t>(moved) == piece;
        done += piece;
    }
    if (!ok) secure_zero(out, length);
    // libcrypto's last key-schedule words and plaintext are in the vector
    // registers.
    corvane::engine::clearVectorRegisters();
    return ok;
}

}  // namespace corvane

#endif
