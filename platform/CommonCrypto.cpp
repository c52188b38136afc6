// CCCrypt on this platform: decryption through the library's triple-DES
// engine (engine/des: the short-message kernel or bitsliced passes by
// length), constant-time, padding check included; encryption through
// OpenSSL libcrypto's DES (the system's own cipher library here: its DES
// functions directly where they are built, its EVP interface otherwise),
// since CBC encryption chains every block. Apple builds use the real
// CommonCrypto instead.
#include "platform/CommonCrypto.h"

#if !(defined(__APPLE__) && __has_include(<CommonCrypto/CommonCryptor.h>))

#if !defined(CORVANE_HAVE_LIBCRYPTO_DES)
#include <openssl/err.h>
#include <openssl/evp.h>
#endif

#include <climits>
#include <cstring>

#include "engine/ct/declassify.h"
#include "engine/des/des3_engine.h"
#include "platform/libcrypto_des.h"
#include "platform/secure_zero.h"

namespace {

// All ones when a < b, else zero; a and b below 2^31. Arithmetic only, so
// that no branch depends on the values.
std::uint32_t ctLess(std::uint32_t a, std::uint32_t b) { return 0u - ((a - b) >> 31); }

// Decrypts whole blocks through the engine and, with padding, checks the
// PKCS #7 padding of the last block without a branch or an address that
// depends on it: only the final verdict is a branch. The padding bytes are
// not written to dataOut, and a message whose padding is bad leaves dataOut
// wiped, as with the platform cipher.
CCCryptorStatus decryptBlocks(const unsigned char* key, const unsigned char* chaining, bool padding,
                              const unsigned char* in, std::size_t length, unsigned char* out,
                              std::size_t* moved) {
    using corvane::des::des3_decrypt;
    using corvane::des::des_default_path;
    const std::size_t blocks = length / kCCBlockSize3DES;
    if (!padding) {
        des3_decrypt(des_default_path(), key, chaining, in, out, blocks, nullptr);
        *moved = length;
        return kCCSuccess;
    }
    unsigned char last[kCCBlockSize3DES];
    des3_decrypt(des_default_path(), key, chaining, in, out, blocks, last);
    const std::uint32_t pad = last[7];
    std::uint32_t bad = ctLess(pad, 1) | ctLess(8, pad);
    unsigned char* lastOut = out + length - kCCBlockSize3DES;
    for (std::uint32_t i = 0; i < 8; ++i) {
        const std::uint32_t inPadding = ctLess(7 - i, pad);
        bad |= inPadding & ctLess(0, last[i] ^ pad);
        // Plaintext bytes before the padding replace the output's bytes;
        // the padding leaves them as they were.
        const auto keep = static_cast<unsigned char>(~inPadding);
        lastOut[i] = static_cast<unsigned char>((last[i] & keep) | (lastOut[i] & ~keep));
    }
    corvane::secure_zero(last, sizeof last);
    // Whether the padding is good, and its length, become public with the
    // status and the moved count.
    corvane::engine::declassify(&bad, sizeof bad);
    if (bad != 0) {
        corvane::secure_zero(out, length);
        *moved = 0;
        return kCCDecodeError;
    }
    std::uint32_t padLength = pad;
    corvane::engine::declassify(&padLength, sizeof padLength);
    *moved = length - padLength;
    return kCCSuccess;
}

constexpr CCOptions kKnownOptions = kCCOptionPKCS7Padding | kCCOptionECBMode;


CCCryptorStatus checkParameters(CCOperation op, CCAlgorithm alg, CCOptions options,
                                const void* key, std::size_t keyLength, const void* dataIn,
                                std::size_t dataInLength, const void* dataOut,
                                std::size_t dataOutAvailable) {
    if (op != kCCEncrypt && op != kCCDecrypt) return kCCParamError;
    if (alg != kCCAlgorithm3DES) return alg <= kCCAlgorithmBlowfish ? kCCUnimplemented : kCCParamError;
    if ((options & ~kKnownOptions) != 0) return kCCParamError;
    if (keyLength != kCCKeySize3DES || key == nullptr) return kCCParamError;
    if (dataIn == nullptr && dataInLength != 0) return kCCParamError;
    if (dataOut == nullptr && dataOutAvailable != 0) return kCCParamError;
    return kCCSuccess;
}

#if defined(CORVANE_HAVE_LIBCRYPTO_DES)

// Encrypts with libcrypto's DES functions, the key schedule on this stack
// and wiped: no context, no allocation, nothing on the error queue. The
// padded last block is made in a local block (read before out is written,
// for in-place calls).
CCCryptorStatus encryptBlocks(const unsigned char* key, const unsigned char* chaining, bool padding,
                              const unsigned char* in, std::size_t length, unsigned char* out, std::size_t) {
    using namespace corvane::libcrypto_des;
    Key schedule;
    setKey(schedule, key);
    unsigned char chain[kCCBlockSize3DES];
    if (chaining != nullptr) std::memcpy(chain, chaining, sizeof chain);
    const std::size_t whole = length - length % kCCBlockSize3DES;
    unsigned char last[kCCBlockSize3DES];
    if (padding) {
        const std::size_t rest = length - whole;
        if (rest > 0) std::memcpy(last, in + whole, rest);
        std::memset(last + rest, static_cast<int>(kCCBlockSize3DES - rest), kCCBlockSize3DES - rest);
    }
    if (chaining != nullptr) {
        encryptCbc(schedule, chain, in, out, whole);
        if (padding) encryptCbc(schedule, chain, last, out + whole, kCCBlockSize3DES);
    } else {
        encryptEcb(schedule, in, out, whole);
        if (padding) encryptEcb(schedule, last, out + whole, kCCBlockSize3DES);
    }
    corvane::secure_zero(&schedule, sizeof schedule);
    corvane::secure_zero(chain, sizeof chain);
    corvane::secure_zero(last, sizeof last);
    return kCCSuccess;
}

#else

// Fetching the cipher once spares every call the provider lookup that the
// EVP_des_ede3_* shorthands repeat on each initialisation. A fetched cipher is
// immutable and may be shared between threads; it lives until the process
// ends.
const EVP_CIPHER* tripleDesCipher(bool ecb) {
    static const EVP_CIPHER* const cbc = [] {
        const EVP_CIPHER* c = EVP_CIPHER_fetch(nullptr, "DES-EDE3-CBC", nullptr);
        return c != nullptr ? c : EVP_des_ede3_cbc();
    }();
    static const EVP_CIPHER* const ecbCipher = [] {
        const EVP_CIPHER* c = EVP_CIPHER_fetch(nullptr, "DES-EDE3-ECB", nullptr);
        return c != nullptr ? c : EVP_des_ede3_ecb();
    }();
    return ecb ? ecbCipher : cbc;
}

// The context CCCrypt encrypts with: one per thread, made on its first
// encryption and kept, so that a call allocates none; freed when the thread
// ends. Each message resets it (see ResetAfterMessage).
EVP_CIPHER_CTX* threadCipherContext() {
    thread_local struct Holder {
        EVP_CIPHER_CTX* ctx = nullptr;
        ~Holder() { EVP_CIPHER_CTX_free(ctx); }
    } holder;
    if (holder.ctx == nullptr) holder.ctx = EVP_CIPHER_CTX_new();
    return holder.ctx;
}

// Resets the context when the message ends, on every path: libcrypto frees
// the cipher's state, key schedule and chaining value wiped, so nothing of
// the message outlives the call.
struct ResetAfterMessage {
    EVP_CIPHER_CTX* ctx;
    ~ResetAfterMessage() { EVP_CIPHER_CTX_reset(ctx); }
};

// libcrypto reports its failures (no memory, bad padding) on a per-thread
// error queue too, where they would stay until the thread ends or the
// application looks. CCCrypt reports through its status alone, so what
// libcrypto queued during the call is taken off again; errors queued before
// the call are left as they were.
class ErrorQueueScope {
public:
    ErrorQueueScope() noexcept { ERR_set_mark(); }
    ~ErrorQueueScope() { ERR_pop_to_mark(); }
    ErrorQueueScope(const ErrorQueueScope&) = delete;
    ErrorQueueScope& operator=(const ErrorQueueScope&) = delete;
};

// EVP counts in int; longer inputs go through in pieces of whole blocks.
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;
static_assert(kMaxPiece % kCCBlockSize3DES == 0 && kMaxPiece <= INT_MAX);

// Encrypts through EVP on this thread's context.
CCCryptorStatus encryptBlocks(const unsigned char* key, const unsigned char* chaining, bool padding,
                              const unsigned char* in, std::size_t length, unsigned char* out, std::size_t needed) {
    ErrorQueueScope errors;
    EVP_CIPHER_CTX* ctx = threadCipherContext();
    if (ctx == nullptr) return kCCMemoryFailure;
    const ResetAfterMessage reset{ctx};
    // Padding is EVP's default; setting it costs a parameter exchange.
    if (EVP_CipherInit_ex(ctx, tripleDesCipher(chaining == nullptr), nullptr, key, chaining, 1) != 1 ||
        (!padding && EVP_CIPHER_CTX_set_padding(ctx, 0) != 1))
        return kCCMemoryFailure;
    std::size_t written = 0;
    bool ok = true;
    for (std::size_t done = 0; ok && done < length;) {
        const std::size_t piece = length - done < kMaxPiece ? length - done : kMaxPiece;
        int moved = 0;
        ok = EVP_CipherUpdate(ctx, out + written, &moved, in + done, static_cast<int>(piece)) == 1;
        done += piece;
        if (ok) written += static_cast<std::size_t>(moved);
    }
    int last = 0;
    ok = ok && EVP_CipherFinal_ex(ctx, out + written, &last) == 1;
    if (!ok) {
        // Encryption does not fail here once the sizes are checked; should
        // libcrypto fail anyway, no partial output stays behind.
        corvane::secure_zero(out, needed);
        return kCCDecodeError;
    }
    return kCCSuccess;
}

#endif

}  // namespace

CCCryptorStatus CCCrypt(CCOperation op, CCAlgorithm alg, CCOptions options, const void* key,
                        std::size_t keyLength, const void* iv, const void* dataIn,
                        std::size_t dataInLength, void* dataOut, std::size_t dataOutAvailable,
                        std::size_t* dataOutMoved) {
    auto report = [dataOutMoved](CCCryptorStatus status, std::size_t moved) {
        if (dataOutMoved != nullptr) *dataOutMoved = moved;
        return status;
    };

    CCCryptorStatus status = checkParameters(op, alg, options, key, keyLength, dataIn,
                                             dataInLength, dataOut, dataOutAvailable);
    if (status != kCCSuccess) return report(status, 0);

    const bool encrypt = op == kCCEncrypt;
    const bool padding = (options & kCCOptionPKCS7Padding) != 0;
    const bool whole = dataInLength % kCCBlockSize3DES == 0;
    if (!whole && (!encrypt || !padding)) return report(kCCAlignmentError, 0);

    const std::size_t needed =
        encrypt && padding ? dataInLength - dataInLength % kCCBlockSize3DES + kCCBlockSize3DES
                           : dataInLength;
    if (dataOutAvailable < needed) return report(kCCBufferTooSmall, needed);
    if (!encrypt && padding && dataInLength == 0) return report(kCCDecodeError, 0);
    if (needed == 0) return report(kCCSuccess, 0);

    static const unsigned char zeroIv[kCCBlockSize3DES] = {};
    const bool ecb = (options & kCCOptionECBMode) != 0;
    const unsigned char* chaining = ecb ? nullptr : iv != nullptr ? static_cast<const unsigned char*>(iv) : zeroIv;
    if (!encrypt) {
        std::size_t moved = 0;
        status = decryptBlocks(static_cast<const unsigned char*>(key), chaining, padding,
                               static_cast<const unsigned char*>(dataIn), dataInLength,
                               static_cast<unsigned char*>(dataOut), &moved);
        return report(status, moved);
    }

    status = encryptBlocks(static_cast<const unsigned char*>(key), chaining, padding,
                           static_cast<const unsigned char*>(dataIn), dataInLength,
                           static_cast<unsigned char*>(dataOut), needed);
    return report(status, status == kCCSuccess ? needed : 0);
}

#endif  // not Apple's own CommonCrypto
