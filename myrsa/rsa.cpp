// RSA with PKCS #1 v1.5 encryption blocks: type 2 (random non-zero filler)
// for public-key encryption, type 1 (0xFF filler) for private-key
// encryption, and the raw public and private (CRT) operations beneath them.
#include <Corvane/rsa.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <Corvane/nn.h>
#include <Corvane/r_random.h>
#include "engine/bignum/ct.h"
#include "engine/bignum/rsa_batch.h"
#include "engine/bignum/rsa_prepared.h"
#include "engine/ct/declassify.h"
#include "engine/ct/stack_scrub.h"
#include "myrsa/rsa_blocks.h"
#include "platform/secure_zero.h"

static_assert(sizeof(R_RSA_PUBLIC_KEY) == 258, "R_RSA_PUBLIC_KEY must stay 258 bytes");
static_assert(offsetof(R_RSA_PUBLIC_KEY, bits) == 0);
static_assert(offsetof(R_RSA_PUBLIC_KEY, modulus) == 2);
static_assert(offsetof(R_RSA_PUBLIC_KEY, exponent) == 130);

static_assert(sizeof(R_RSA_PRIVATE_KEY) == 706, "R_RSA_PRIVATE_KEY must stay 706 bytes");
static_assert(offsetof(R_RSA_PRIVATE_KEY, bits) == 0);
static_assert(offsetof(R_RSA_PRIVATE_KEY, modulus) == 2);
static_assert(offsetof(R_RSA_PRIVATE_KEY, publicExponent) == 130);
static_assert(offsetof(R_RSA_PRIVATE_KEY, privateExponent) == 258);
static_assert(offsetof(R_RSA_PRIVATE_KEY, prime) == 386);
static_assert(offsetof(R_RSA_PRIVATE_KEY, primeExponent) == 514);
static_assert(offsetof(R_RSA_PRIVATE_KEY, coefficient) == 642);

// Every field fits the digit arrays, and a product of two prime-sized
// numbers fits one array.
static_assert(MAX_RSA_MODULUS_LEN <= 4 * (MAX_NN_DIGITS - 1));
static_assert(2 * ((MAX_RSA_PRIME_LEN + 3) / 4) <= MAX_NN_DIGITS);

namespace {

// Padding overhead of a block: 00, type, at least 8 filler bytes, 00.
constexpr std::uint32_t kBlockOverhead = 11;

using Number = NN_DIGIT[MAX_NN_DIGITS];

// A key with no bits or more than the records hold would make blocks longer
// than the 128-byte buffer; such keys are refused before any buffer is touched.
bool keyBitsUsable(std::uint16_t bits) { return bits != 0 && bits <= MAX_RSA_MODULUS_BITS; }

std::uint32_t modulusLenOf(std::uint16_t bits) { return (static_cast<std::uint32_t>(bits) + 7) / 8; }

// True when a message of inputLen bytes fits a block with 8 filler bytes.
// Widened so that lengths near 2^32 cannot wrap past the test.
bool messageFits(std::uint32_t inputLen, std::uint32_t modulusLen) {
    return static_cast<std::uint64_t>(inputLen) + kBlockOverhead <= modulusLen;
}

// The significant digits shared by both primes: the larger of the two, so
// that either order of the primes reduces with the right number of digits.
std::uint32_t primeDigits(const NN_DIGIT* p, const NN_DIGIT* q) {
    std::uint32_t pDigits = QV_NN_Digits(p, MAX_NN_DIGITS);
    std::uint32_t qDigits = QV_NN_Digits(q, MAX_NN_DIGITS);
    return pDigits > qDigits ? pDigits : qDigits;
}

using corvane::engine::PreparedPrivateKey;
using corvane::engine::PreparedPublicKey;
using corvane::engine::Word;

// Which arithmetic a raw operation uses: the engine's RSA operations
// wherever they give the documented result (always, in the library), or the
// documented steps over the package's exported arithmetic (the oracle of
// the tests).
enum class Arithmetic { engineWhereItFits, documentedOnly };

// The engine's set-up of a key where the engine takes it, else null: the
// documented steps then serve.
const PreparedPublicKey* engineKey(const PreparedPublicKey* prepared) {
    return prepared != nullptr && prepared->usable != 0 ? prepared : nullptr;
}
const PreparedPrivateKey* engineKey(const PreparedPrivateKey* prepared) {
    return prepared != nullptr && prepared->usable != 0 ? prepared : nullptr;
}

// output = input ^ e mod n, written as modulusLen bytes: by the engine on
// its set-up of the key (`prepared`), or by the documented steps where that
// is null or the engine does not take n.
std::int32_t publicOperation(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                             std::uint32_t inputLen, const R_RSA_PUBLIC_KEY* key,
                             const PreparedPublicKey* prepared) {
    const PreparedPublicKey* engine = engineKey(prepared);
    Number c = {}, e = {}, m = {}, decodedN = {};
    QV_NN_Decode(c, MAX_NN_DIGITS, input, inputLen);
    if (engine == nullptr) {
        QV_NN_Decode(decodedN, MAX_NN_DIGITS, key->modulus, MAX_RSA_MODULUS_LEN);
        QV_NN_Decode(e, MAX_NN_DIGITS, key->exponent, MAX_RSA_MODULUS_LEN);
    }
    const NN_DIGIT* n = engine != nullptr ? engine->n : decodedN;
    std::uint32_t nDigits = QV_NN_Digits(n, MAX_NN_DIGITS);

    std::int32_t status = 0;
    // Compared over every digit: an input with more digits than the modulus
    // (possible when bits overstates the modulus) is not smaller than it.
    if (QV_NN_Cmp(c, n, MAX_NN_DIGITS) >= 0) {
        status = QV_STATUS_BAD_DATA;
    } else {
        std::uint32_t modulusLen = modulusLenOf(key->bits);
        *outputLen = modulusLen;
        if (engine != nullptr)
            corvane::engine::rsaPublicPrepared(*engine, m, c);
        else
            QV_NN_ModExp(m, c, e, QV_NN_Digits(e, MAX_NN_DIGITS), n, nDigits);
        QV_NN_Encode(output, modulusLen, m, nDigits);
    }
    corvane::secure_zero_object(m);
    corvane::secure_zero_object(c);
    return status;
}

// t = ((mP - mQ) mod p * qInv mod p) * q + mQ by the documented steps, for
// the keys the engine does not take. mP and mQ arrive cleared; cP and cQ
// are scratch.
void referenceCrt(NN_DIGIT* t, const NN_DIGIT* c, std::uint32_t cDigits, std::uint32_t nDigits,
                  const NN_DIGIT* p, const NN_DIGIT* q, const NN_DIGIT* dP, const NN_DIGIT* dQ,
                  const NN_DIGIT* qInv, NN_DIGIT* cP, NN_DIGIT* cQ, NN_DIGIT* mP, NN_DIGIT* mQ) {
    std::uint32_t pDigits = primeDigits(p, q);
    QV_NN_Mod(cP, c, cDigits, p, pDigits);
    QV_NN_Mod(cQ, c, cDigits, q, pDigits);
    QV_NN_ModExp(mP, cP, dP, pDigits, p, pDigits);
    QV_NN_ModExp(mQ, cQ, dQ, pDigits, q, pDigits);

    // t = (mP - mQ) mod p. mQ is below q, which may exceed p, so it is
    // reduced modulo p first (into cQ, no longer needed); for keys with
    // p > q this leaves it unchanged.
    QV_NN_Mod(cQ, mQ, pDigits, p, pDigits);
    if (QV_NN_Cmp(mP, cQ, pDigits) >= 0) {
        QV_NN_Sub(t, mP, cQ, pDigits);
    } else {
        QV_NN_Sub(t, cQ, mP, pDigits);
        QV_NN_Sub(t, p, t, pDigits);
    }

    // m = ((mP - mQ) * qInv mod p) * q + mQ
    QV_NN_ModMult(t, t, qInv, p, pDigits);
    QV_NN_Mult(t, t, q, pDigits);
    QV_NN_Add(t, t, mQ, nDigits);
}

// All ones when n = p * q and t agrees with both halves (t mod p = mP,
// t mod q = mQ), by the package's arithmetic: the documented steps' share
// of the check before release. x is scratch.
Word referenceHalvesAgree(const NN_DIGIT* t, const NN_DIGIT* n, const NN_DIGIT* p, const NN_DIGIT* q,
                          const NN_DIGIT* mP, const NN_DIGIT* mQ, NN_DIGIT* x) {
    using corvane::engine::digitsEqual;
    std::uint32_t pDigits = primeDigits(p, q);
    QV_NN_AssignZero(x, MAX_NN_DIGITS);
    QV_NN_Mult(x, p, q, pDigits);
    Word agrees = digitsEqual(x, n, MAX_NN_DIGITS);
    // A zero prime makes the division write nothing: x stays as cleared.
    QV_NN_AssignZero(x, MAX_NN_DIGITS);
    QV_NN_Mod(x, t, MAX_NN_DIGITS, p, pDigits);
    agrees &= digitsEqual(x, mP, pDigits);
    QV_NN_AssignZero(x, MAX_NN_DIGITS);
    QV_NN_Mod(x, t, MAX_NN_DIGITS, q, pDigits);
    agrees &= digitsEqual(x, mQ, pDigits);
    return agrees;
}

// A public exponent the check can raise to: odd and above 1. Zero, one and
// even values belong to no working key; records carrying them get the
// check of the key's halves alone.
bool publicExponentUsable(const NN_DIGIT* e) {
    return (e[0] & 1u) != 0 && (e[0] != 1 || QV_NN_Digits(e, MAX_NN_DIGITS) > 1);
}

// All ones when t^e mod n equals c: the result undoes what it was computed
// from. Through the engine where it takes n (`engine` non-null), like the
// public operation; its time depends on e and n, not on t. x is scratch.
Word raisedMatches(const NN_DIGIT* t, const NN_DIGIT* c, const NN_DIGIT* n, std::uint32_t nDigits,
                   const NN_DIGIT* e, const PreparedPublicKey* engine, NN_DIGIT* x) {
    if (engine != nullptr) return corvane::engine::raisesTo(*engine, t, c);
    QV_NN_AssignZero(x, MAX_NN_DIGITS);
    QV_NN_ModExp(x, t, e, QV_NN_Digits(e, MAX_NN_DIGITS), n, nDigits);
    return corvane::engine::digitsEqual(x, c, MAX_NN_DIGITS);
}

// Whether a private result is checked before it is released. Only the
// differential tests turn the check off, to compare the arithmetic of the
// engine and of the documented steps on keys the check would refuse.
enum class Release { checked, unchecked };

// The one decision on a private result, which the caller learns anyway:
// released as modulusLen bytes when its verdict holds, else wiped from the
// output, which is cleared, with QV_STATUS_BAD_DATA.
std::int32_t releaseResult(unsigned char* output, std::uint32_t* outputLen, const NN_DIGIT* t, Word verdict,
                           std::uint32_t nDigits, std::uint32_t modulusLen, Release release) {
    corvane::engine::declassify(&verdict, sizeof verdict);
    if (verdict != 0 || release == Release::unchecked) {
        *outputLen = modulusLen;
        QV_NN_Encode(output, modulusLen, t, nDigits);
        return 0;
    }
    corvane::secure_zero(output, modulusLen);
    return QV_STATUS_BAD_DATA;
}

// Whether a usable key's results are checked by its public exponent; where
// it is unusable, the key's consistency must serve alone.
bool exponentChecks(const PreparedPublicKey& pub) { return pub.usable != 0 && publicExponentUsable(pub.e); }

// The public exponent's share of the verdict on the engine's private result
// t for input c (below n) under a usable key: all ones where t^e mod n = c,
// or where the exponent is unusable; zero when n is even or below 2 (no odd
// primes make it, and the consistency verdict is zero already).
Word raisedVerdict(const PreparedPrivateKey& key, const NN_DIGIT* t, const NN_DIGIT* c) {
    const PreparedPublicKey& pub = key.publicKey;
    return exponentChecks(pub) ? corvane::engine::raisesTo(pub, t, c) : pub.usable;
}

// The engine's private result t for input c (below n) under a usable key,
// checked and released: its consistency with the key (`consistent`, from
// the CRT step) and, where the public exponent is usable, t^e mod n = c.
std::int32_t releaseEngineResult(unsigned char* output, std::uint32_t* outputLen, const NN_DIGIT* t,
                                 Word consistent, const NN_DIGIT* c, const PreparedPrivateKey& key,
                                 std::uint32_t modulusLen, Release release) {
    return releaseResult(output, outputLen, t, consistent & raisedVerdict(key, t, c), key.publicKey.nDigits,
                         modulusLen, release);
}

// The documented steps of the private operation on the record's fields,
// for keys the engine does not take, and as the tests' oracle. `pub` (may
// be null) is the engine's set-up of n and e, for the check.
std::int32_t documentedPrivate(unsigned char* output, std::uint32_t* outputLen, const NN_DIGIT* c,
                               const R_RSA_PRIVATE_KEY* key, const PreparedPublicKey* pub, Release release) {
    Number cP = {}, cQ = {}, dP = {}, dQ = {}, e = {}, mP = {}, mQ = {}, n = {}, p = {}, q = {}, qInv = {},
           t = {};
    QV_NN_Decode(p, MAX_NN_DIGITS, key->prime[0], MAX_RSA_PRIME_LEN);
    QV_NN_Decode(q, MAX_NN_DIGITS, key->prime[1], MAX_RSA_PRIME_LEN);
    QV_NN_Decode(dP, MAX_NN_DIGITS, key->primeExponent[0], MAX_RSA_PRIME_LEN);
    QV_NN_Decode(dQ, MAX_NN_DIGITS, key->primeExponent[1], MAX_RSA_PRIME_LEN);
    QV_NN_Decode(n, MAX_NN_DIGITS, key->modulus, MAX_RSA_MODULUS_LEN);
    QV_NN_Decode(e, MAX_NN_DIGITS, key->publicExponent, MAX_RSA_MODULUS_LEN);
    QV_NN_Decode(qInv, MAX_NN_DIGITS, key->coefficient, MAX_RSA_PRIME_LEN);
    std::uint32_t cDigits = QV_NN_Digits(c, MAX_NN_DIGITS);
    std::uint32_t nDigits = QV_NN_Digits(n, MAX_NN_DIGITS);

    std::int32_t status = QV_STATUS_BAD_DATA;
    if (QV_NN_Cmp(c, n, MAX_NN_DIGITS) < 0) {
        referenceCrt(t, c, cDigits, nDigits, p, q, dP, dQ, qInv, cP, cQ, mP, mQ);
        Word verdict = referenceHalvesAgree(t, n, p, q, mP, mQ, cP);
        if (publicExponentUsable(e)) verdict &= raisedMatches(t, c, n, nDigits, e, engineKey(pub), cQ);
        status = releaseResult(output, outputLen, t, verdict, nDigits, modulusLenOf(key->bits), release);
    }
    // Everything derived from the key or the message; n and e are public.
    corvane::secure_zero_object(cP);
    corvane::secure_zero_object(cQ);
    corvane::secure_zero_object(dP);
    corvane::secure_zero_object(dQ);
    corvane::secure_zero_object(mP);
    corvane::secure_zero_object(mQ);
    corvane::secure_zero_object(p);
    corvane::secure_zero_object(q);
    corvane::secure_zero_object(qInv);
    corvane::secure_zero_object(t);
    return status;
}

// output = input ^ d mod n by the Chinese remainder theorem, written as
// modulusLen bytes. The engine computes it in constant time on its set-up
// of the key (`prepared`) for every key whose primes are odd and above 1
// (all well-formed keys); the documented steps serve the rest (and a null
// `prepared`), with the same result.
//
// Nothing leaves before it is checked: a wrong result (a key whose fields
// do not belong together, or a fault during the computation) would give
// away a prime factor of n, as gcd(s^e - input, n). The result raised to
// the record's public exponent must give the input back; where that
// exponent is unusable, the result must at least agree with both halves and
// the primes make n. A result that fails is wiped, the output cleared, and
// the status is QV_STATUS_BAD_DATA. The caller scrubs the stack afterwards
// (stack_scrub.h).
std::int32_t privateOperation(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                              std::uint32_t inputLen, const R_RSA_PRIVATE_KEY* key,
                              const PreparedPrivateKey* prepared, Release release = Release::checked) {
    Number c = {};
    QV_NN_Decode(c, MAX_NN_DIGITS, input, inputLen);
    std::int32_t status = QV_STATUS_BAD_DATA;
    if (const PreparedPrivateKey* engine = engineKey(prepared)) {
        if (QV_NN_Cmp(c, engine->publicKey.n, MAX_NN_DIGITS) < 0) {
            Number t = {};
            Word consistent = 0;
            corvane::engine::rsaPrivateCrtPrepared(*engine, t, consistent, c);
            status = releaseEngineResult(output, outputLen, t, consistent, c, *engine, modulusLenOf(key->bits),
                                         release);
            corvane::secure_zero_object(t);
        }
    } else {
        status = documentedPrivate(output, outputLen, c, key, prepared != nullptr ? &prepared->publicKey : nullptr,
                                   release);
    }
    corvane::secure_zero_object(c);
    return status;
}

// The private operation as the legacy functions run it: the key prepared
// for this call only and wiped after it, then the stack scrubbed.
std::int32_t privateOperationPerCall(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                                     std::uint32_t inputLen, const R_RSA_PRIVATE_KEY* key, Arithmetic arithmetic,
                                     Release release = Release::checked) {
    std::int32_t status = 0;
    if (arithmetic == Arithmetic::documentedOnly) {
        status = privateOperation(output, outputLen, input, inputLen, key, nullptr, release);
    } else {
        PreparedPrivateKey prepared;
        corvane::rsa_blocks::prepare(prepared, *key);
        status = privateOperation(output, outputLen, input, inputLen, key, &prepared, release);
        corvane::secure_zero_object(prepared);
    }
    corvane::engine::scrubStack();
    return status;
}

std::int32_t publicOperationPerCall(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                                    std::uint32_t inputLen, const R_RSA_PUBLIC_KEY* key, Arithmetic arithmetic) {
    if (arithmetic == Arithmetic::documentedOnly)
        return publicOperation(output, outputLen, input, inputLen, key, nullptr);
    PreparedPublicKey prepared;
    corvane::rsa_blocks::prepare(prepared, *key);
    return publicOperation(output, outputLen, input, inputLen, key, &prepared);
}

std::int32_t rsapublicfunc(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                           std::uint32_t inputLen, const R_RSA_PUBLIC_KEY* key) {
    return publicOperationPerCall(output, outputLen, input, inputLen, key, Arithmetic::engineWhereItFits);
}

std::int32_t rsaprivatefunc(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                            std::uint32_t inputLen, const R_RSA_PRIVATE_KEY* key) {
    return privateOperationPerCall(output, outputLen, input, inputLen, key, Arithmetic::engineWhereItFits);
}

// Index of the separator in a block that ends with a message of inputLen bytes.
std::uint32_t separatorIndex(std::uint32_t inputLen, std::uint32_t modulusLen) {
    return modulusLen - inputLen - 1;
}

// Writes the separator and the message after the filler.
void writeBlockTail(unsigned char* block, std::uint32_t separator, const unsigned char* input,
                    std::uint32_t inputLen) {
    block[separator] = 0;
    if (inputLen != 0) std::memcpy(&block[separator + 1], input, inputLen);
}

// The one place where the outcome of a block check decides anything: the
// status, and the copy of the message, whose position and length depend on
// the plaintext by the nature of the interface. Everything before it reads
// the block under masks.
std::int32_t releaseMessage(unsigned char* output, std::uint32_t* outputLen, const unsigned char* block,
                            corvane::engine::Word wellFormed, corvane::engine::Word separator,
                            std::uint32_t modulusLen) {
    if (wellFormed == 0) return QV_STATUS_BAD_DATA;
    const auto messageLen = static_cast<std::uint32_t>(modulusLen - (separator + 1));
    *outputLen = messageLen;
    if (messageLen != 0) std::memcpy(output, &block[separator + 1], messageLen);
    return 0;
}

// Checks a decrypted block of the given type (00, type, filler, 00, message)
// and copies its message out. Type-1 filler is all 0xFF; type-2 filler is any
// non-zero bytes. The separator is the first byte from index 2 that ends the
// filler, looking no further than the next-to-last byte; failing that, the
// last byte, so a separator there means the empty message. At least 8
// filler bytes must precede it.
//
// Every byte is read and combined with masks, so that neither the time nor
// the memory accesses tell which check failed or where the separator lies
// (the private-key decryption's block is secret until it is released).
std::int32_t unpadBlock(unsigned char* output, std::uint32_t* outputLen, const unsigned char* block,
                        std::uint32_t modulusLen, unsigned char type) {
    namespace ct = corvane::engine::ct;
    using corvane::engine::Word;
    // Too short for the header, 8 filler bytes and a separator.
    if (modulusLen < kBlockOverhead) return QV_STATUS_BAD_DATA;

    Word wellFormed = ct::isZero(block[0]) & ct::equal(block[1], type);
    Word separator = modulusLen - 1, found = 0;
    for (std::uint32_t i = 2; i < modulusLen - 1; i++) {
        const Word ends = type == 1 ? ct::isNonZero(block[i] ^ 0xFFu) : ct::isZero(block[i]);
        separator = ct::select(ends & ~found, i, separator);
        found |= ends;
    }
    Word separatorByte = 0;
    for (std::uint32_t i = 2; i < modulusLen; i++) separatorByte |= block[i] & ct::equal(i, separator);
    wellFormed &= ct::isZero(separatorByte);
    // At least 8 filler bytes: the separator is at index 10 or later.
    wellFormed &= ~ct::less(separator, kBlockOverhead - 1);
    return releaseMessage(output, outputLen, block, wellFormed, separator, modulusLen);
}

// The decryptions: the raw operation into a block buffer, then the check of
// the block of the given type. The buffer is zeroed first so that the checks
// read defined bytes even for blocks shorter than the header (keys of fewer
// than 17 bits), and wiped whatever the outcome.
template <typename RawOperation>
std::int32_t decryptBlock(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                          std::uint32_t inputLen, std::uint16_t bits, RawOperation raw, unsigned char type) {
    if (!keyBitsUsable(bits)) return QV_STATUS_BAD_LENGTH;
    std::uint32_t modulusLen = modulusLenOf(bits);
    if (inputLen > modulusLen) return QV_STATUS_BAD_LENGTH;

    unsigned char block[MAX_RSA_MODULUS_LEN] = {};
    std::uint32_t blockLen = 0;
    std::int32_t status = raw(block, &blockLen, input, inputLen);
    if (status == 0) status = unpadBlock(output, outputLen, block, modulusLen, type);
    corvane::secure_zero(block, sizeof block);
    return status;
}

// Public-key encryption: a type-2 block with the pool's non-zero bytes as
// filler, through the raw public operation.
template <typename RawOperation>
std::int32_t publicEncryptBlock(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                                std::uint32_t inputLen, std::uint16_t bits, R_RANDOM_STRUCT* randomStruct,
                                RawOperation raw) {
    if (!keyBitsUsable(bits)) return QV_STATUS_BAD_LENGTH;
    std::uint32_t modulusLen = modulusLenOf(bits);
    if (!messageFits(inputLen, modulusLen)) return QV_STATUS_BAD_LENGTH;
    std::uint32_t bytesNeeded = 0;
    QV_R_GetRandomBytesNeeded(&bytesNeeded, randomStruct);
    if (bytesNeeded != 0) return QV_STATUS_NOT_SEEDED;

    unsigned char block[MAX_RSA_MODULUS_LEN];
    std::uint32_t separator = separatorIndex(inputLen, modulusLen);
    block[0] = 0;
    block[1] = 2;
    // The padding: the pool's bytes in order with the zero bytes dropped
    // (the pool is seeded, so the draws cannot fail). Drawn as many at a
    // time as are still missing: the zeros among them are dropped and as
    // many more drawn, which takes exactly the bytes that drawing one at a
    // time would, and leaves the pool in the same state.
    std::uint32_t filled = 2;
    while (filled < separator) {
        QV_R_GenerateBytes(block + filled, separator - filled, randomStruct);
        for (std::uint32_t i = filled, end = separator; i < end; i++)
            if (block[i] != 0) block[filled++] = block[i];
    }
    writeBlockTail(block, separator, input, inputLen);

    std::int32_t status = raw(output, outputLen, block, modulusLen);

    corvane::secure_zero(block, sizeof block);
    return status;
}

// Writes the type-1 block of a message (0xFF filler) into block, whose
// length is modulusLen; the message must fit (messageFits).
void privateBlock(unsigned char* block, const unsigned char* input, std::uint32_t inputLen,
                  std::uint32_t modulusLen) {
    std::uint32_t separator = separatorIndex(inputLen, modulusLen);
    block[0] = 0;
    block[1] = 1;
    std::memset(&block[2], 0xFF, separator - 2);
    writeBlockTail(block, separator, input, inputLen);
}

// Private-key encryption: a type-1 block through the raw private operation.
template <typename RawOperation>
std::int32_t privateEncryptBlock(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                                 std::uint32_t inputLen, std::uint16_t bits, RawOperation raw) {
    if (!keyBitsUsable(bits)) return QV_STATUS_BAD_LENGTH;
    std::uint32_t modulusLen = modulusLenOf(bits);
    if (!messageFits(inputLen, modulusLen)) return QV_STATUS_BAD_LENGTH;

    unsigned char block[MAX_RSA_MODULUS_LEN];
    privateBlock(block, input, inputLen, modulusLen);
    std::int32_t status = raw(output, outputLen, block, modulusLen);

    corvane::secure_zero(block, sizeof block);
    return status;
}

// The raw operations on a prepared key, as the block steps call them.
auto rawPublic(const R_RSA_PUBLIC_KEY& key, const PreparedPublicKey& prepared) {
    return [&](unsigned char* out, std::uint32_t* outLen, const unsigned char* in, std::uint32_t inLen) {
        return publicOperation(out, outLen, in, inLen, &key, &prepared);
    };
}
auto rawPrivate(const R_RSA_PRIVATE_KEY& key, const PreparedPrivateKey& prepared) {
    return [&](unsigned char* out, std::uint32_t* outLen, const unsigned char* in, std::uint32_t inLen) {
        return privateOperation(out, outLen, in, inLen, &key, &prepared);
    };
}
// The legacy functions' raw operations, which prepare the key per call.
template <typename Key, typename Raw>
auto rawPerCall(const Key* key, Raw raw) {
    return [key, raw](unsigned char* out, std::uint32_t* outLen, const unsigned char* in, std::uint32_t inLen) {
        return raw(out, outLen, in, inLen, key);
    };
}

}  // namespace

extern "C" {

int32_t QV_RSAPublicEncrypt(unsigned char* output, uint32_t* outputLen, const unsigned char* input,
                            uint32_t inputLen, const R_RSA_PUBLIC_KEY* publicKey,
                            R_RANDOM_STRUCT* randomStruct) {
    return publicEncryptBlock(output, outputLen, input, inputLen, publicKey->bits, randomStruct,
                              rawPerCall(publicKey, rsapublicfunc));
}

int32_t QV_RSAPrivateEncrypt(unsigned char* output, uint32_t* outputLen, const unsigned char* input,
                             uint32_t inputLen, const R_RSA_PRIVATE_KEY* privateKey) {
    return privateEncryptBlock(output, outputLen, input, inputLen, privateKey->bits,
                               rawPerCall(privateKey, rsaprivatefunc));
}

int32_t QV_RSAPublicDecrypt(unsigned char* output, uint32_t* outputLen, const unsigned char* input,
                            uint32_t inputLen, const R_RSA_PUBLIC_KEY* publicKey) {
    return decryptBlock(output, outputLen, input, inputLen, publicKey->bits, rawPerCall(publicKey, rsapublicfunc),
                        1);
}

int32_t QV_RSAPrivateDecrypt(unsigned char* output, uint32_t* outputLen, const unsigned char* input,
                             uint32_t inputLen, const R_RSA_PRIVATE_KEY* privateKey) {
    // A type-2 block whose separator is its last byte (the empty message,
    // which public encryption makes and peers send) is accepted.
    return decryptBlock(output, outputLen, input, inputLen, privateKey->bits,
                        rawPerCall(privateKey, rsaprivatefunc), 2);
}

}  // extern "C"

namespace corvane::rsa_blocks {

void prepare(PreparedPublicKey& prepared, const R_RSA_PUBLIC_KEY& key) noexcept {
    Number n = {}, e = {};
    QV_NN_Decode(n, MAX_NN_DIGITS, key.modulus, MAX_RSA_MODULUS_LEN);
    QV_NN_Decode(e, MAX_NN_DIGITS, key.exponent, MAX_RSA_MODULUS_LEN);
    engine::preparePublicKey(prepared, n, e);
}

void prepare(PreparedPrivateKey& prepared, const R_RSA_PRIVATE_KEY& key) noexcept {
    Number dP = {}, dQ = {}, e = {}, n = {}, p = {}, q = {}, qInv = {};
    QV_NN_Decode(p, MAX_NN_DIGITS, key.prime[0], MAX_RSA_PRIME_LEN);
    QV_NN_Decode(q, MAX_NN_DIGITS, key.prime[1], MAX_RSA_PRIME_LEN);
    QV_NN_Decode(dP, MAX_NN_DIGITS, key.primeExponent[0], MAX_RSA_PRIME_LEN);
    QV_NN_Decode(dQ, MAX_NN_DIGITS, key.primeExponent[1], MAX_RSA_PRIME_LEN);
    QV_NN_Decode(n, MAX_NN_DIGITS, key.modulus, MAX_RSA_MODULUS_LEN);
    QV_NN_Decode(e, MAX_NN_DIGITS, key.publicExponent, MAX_RSA_MODULUS_LEN);
    QV_NN_Decode(qInv, MAX_NN_DIGITS, key.coefficient, MAX_RSA_PRIME_LEN);
    engine::preparePrivateKey(prepared, n, e, p, q, dP, dQ, qInv);
    secure_zero_object(dP);
    secure_zero_object(dQ);
    secure_zero_object(p);
    secure_zero_object(q);
    secure_zero_object(qInv);
}

std::int32_t publicEncrypt(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                           std::uint32_t inputLen, const R_RSA_PUBLIC_KEY& key, const PreparedPublicKey& prepared,
                           R_RANDOM_STRUCT* randomStruct) noexcept {
    return publicEncryptBlock(output, outputLen, input, inputLen, key.bits, randomStruct, rawPublic(key, prepared));
}

std::int32_t publicDecrypt(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                           std::uint32_t inputLen, const R_RSA_PUBLIC_KEY& key,
                           const PreparedPublicKey& prepared) noexcept {
    return decryptBlock(output, outputLen, input, inputLen, key.bits, rawPublic(key, prepared), 1);
}

std::int32_t privateEncrypt(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                            std::uint32_t inputLen, const R_RSA_PRIVATE_KEY& key,
                            const PreparedPrivateKey& prepared) noexcept {
    std::int32_t status = privateEncryptBlock(output, outputLen, input, inputLen, key.bits, rawPrivate(key, prepared));
    engine::scrubStack();
    return status;
}

std::int32_t privateDecrypt(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                            std::uint32_t inputLen, const R_RSA_PRIVATE_KEY& key,
                            const PreparedPrivateKey& prepared) noexcept {
    std::int32_t status = decryptBlock(output, outputLen, input, inputLen, key.bits, rawPrivate(key, prepared), 2);
    engine::scrubStack();
    return status;
}

std::int32_t privateRaw(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                        std::uint32_t inputLen, const R_RSA_PRIVATE_KEY& key,
                        const PreparedPrivateKey& prepared) noexcept {
    if (!keyBitsUsable(key.bits)) return QV_STATUS_BAD_LENGTH;
    if (inputLen > modulusLenOf(key.bits)) return QV_STATUS_BAD_LENGTH;
    std::int32_t status = rawPrivate(key, prepared)(output, outputLen, input, inputLen);
    engine::scrubStack();
    return status;
}

}  // namespace corvane::rsa_blocks

namespace {

using corvane::rsa_blocks::BatchItem;

// The raw private operation on many items under one usable key, up to
// kRsaBatchMax at a time through the engine's batch. `input(item, block)`
// checks an item's length and gives the bytes to raise (the item's own, or
// a block it writes into `block`) with a status, nonzero for an item that
// stays out; `output(item, result)` takes a released modulusLen-byte result.
// An item whose value is not below n stays out too (QV_STATUS_BAD_DATA).
// The items that stay out are told apart by their lengths and values only,
// which the caller knows.
template <typename Input, typename Output>
void privateBatch(BatchItem* items, std::size_t count, const R_RSA_PRIVATE_KEY& key,
                  const PreparedPrivateKey& prepared, Input input, Output output) {
    using corvane::engine::kRsaBatchMax;
    const std::uint32_t modulusLen = modulusLenOf(key.bits);
    Number c[kRsaBatchMax] = {}, t[kRsaBatchMax] = {};
    Word consistent[kRsaBatchMax] = {};
    unsigned char block[MAX_RSA_MODULUS_LEN];
    std::size_t next = 0;
    while (next < count) {
        BatchItem* joined[kRsaBatchMax];
        std::size_t lanes = 0;
        for (; next < count && lanes < kRsaBatchMax; next++) {
            BatchItem& item = items[next];
            const unsigned char* bytes = nullptr;
            std::uint32_t length = 0;
            item.status = input(item, block, bytes, length);
            if (item.status != 0) continue;
            QV_NN_AssignZero(c[lanes], MAX_NN_DIGITS);
            QV_NN_Decode(c[lanes], MAX_NN_DIGITS, bytes, length);
            if (QV_NN_Cmp(c[lanes], prepared.publicKey.n, MAX_NN_DIGITS) >= 0)
                item.status = QV_STATUS_BAD_DATA;
            else
                joined[lanes++] = &item;
        }
        if (lanes == 0) continue;
        NN_DIGIT* results[kRsaBatchMax];
        const NN_DIGIT* inputs[kRsaBatchMax];
        for (std::size_t i = 0; i < lanes; i++) {
            results[i] = t[i];
            inputs[i] = c[i];
        }
        // The check before release, made with the results, for all at once.
        Word raised[kRsaBatchMax];
        const bool checked = exponentChecks(prepared.publicKey);
        corvane::engine::rsaPrivateCrtBatch(prepared, lanes, results, consistent, inputs, checked ? raised : nullptr);
        if (!checked)
            for (std::size_t i = 0; i < lanes; i++) raised[i] = prepared.publicKey.usable;
        for (std::size_t i = 0; i < lanes; i++) {
            std::uint32_t resultLen = 0;
            std::int32_t status = releaseResult(block, &resultLen, t[i], consistent[i] & raised[i],
                                                prepared.publicKey.nDigits, modulusLen, Release::checked);
            joined[i]->status = status == 0 ? output(*joined[i], block) : status;
        }
        corvane::secure_zero_object(raised);
    }
    corvane::secure_zero(block, sizeof block);
    corvane::secure_zero_object(c);
    corvane::secure_zero_object(t);
    corvane::secure_zero_object(consistent);
}

}  // namespace

namespace corvane::rsa_blocks {

namespace {

// The decryptions' batch: each item's block raised under the key, its
// result handed to `output(item, result)`; where the engine does not take
// the key, `single(item)` runs item by item.
template <typename Single, typename Output>
void decryptionBatch(BatchItem* items, std::size_t count, const R_RSA_PRIVATE_KEY& key,
                     const PreparedPrivateKey& prepared, Single single, Output output) {
    if (engineKey(&prepared) == nullptr || !keyBitsUsable(key.bits)) {
        for (std::size_t i = 0; i < count; i++) items[i].status = single(items[i]);
        return;
    }
    const std::uint32_t modulusLen = modulusLenOf(key.bits);
    privateBatch(
        items, count, key, prepared,
        [&](const BatchItem& item, unsigned char*, const unsigned char*& bytes, std::uint32_t& length) {
            if (item.inputLen > modulusLen) return QV_STATUS_BAD_LENGTH;
            bytes = item.input;
            length = item.inputLen;
            return 0;
        },
        output);
    engine::scrubBatchStack();
}

}  // namespace

void privateDecryptBatch(BatchItem* items, std::size_t count, const R_RSA_PRIVATE_KEY& key,
                         const PreparedPrivateKey& prepared) noexcept {
    const std::uint32_t modulusLen = modulusLenOf(key.bits);
    decryptionBatch(
        items, count, key, prepared,
        [&](BatchItem& item) {
            return privateDecrypt(item.output, &item.outputLen, item.input, item.inputLen, key, prepared);
        },
        [&](BatchItem& item, const unsigned char* result) {
            return unpadBlock(item.output, &item.outputLen, result, modulusLen, 2);
        });
}

void privateRawBatch(BatchItem* items, std::size_t count, const R_RSA_PRIVATE_KEY& key,
                     const PreparedPrivateKey& prepared) noexcept {
    const std::uint32_t modulusLen = modulusLenOf(key.bits);
    decryptionBatch(
        items, count, key, prepared,
        [&](BatchItem& item) {
            return privateRaw(item.output, &item.outputLen, item.input, item.inputLen, key, prepared);
        },
        [&](BatchItem& item, const unsigned char* result) {
            std::memcpy(item.output, result, modulusLen);
            item.outputLen = modulusLen;
            return 0;
        });
}

void privateEncryptBatch(BatchItem* items, std::size_t count, const R_RSA_PRIVATE_KEY& key,
                         const PreparedPrivateKey& prepared) noexcept {
    if (engineKey(&prepared) == nullptr || !keyBitsUsable(key.bits)) {
        for (std::size_t i = 0; i < count; i++)
            items[i].status = privateEncrypt(items[i].output, &items[i].outputLen, items[i].input, items[i].inputLen,
                                             key, prepared);
        return;
    }
    const std::uint32_t modulusLen = modulusLenOf(key.bits);
    privateBatch(
        items, count, key, prepared,
        [&](const BatchItem& item, unsigned char* block, const unsigned char*& bytes, std::uint32_t& length) {
            if (!messageFits(item.inputLen, modulusLen)) return QV_STATUS_BAD_LENGTH;
            privateBlock(block, item.input, item.inputLen, modulusLen);
            bytes = block;
            length = modulusLen;
            return 0;
        },
        [&](BatchItem& item, const unsigned char* result) {
            std::memcpy(item.output, result, modulusLen);
            item.outputLen = modulusLen;
            return 0;
        });
    engine::scrubBatchStack();
}

}  // namespace corvane::rsa_blocks

#ifdef CORVANE_TEST_SEAMS
#include "myrsa/rsa_seams.h"

namespace corvane::test_seams {

std::int32_t rsa_public_raw(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                            std::uint32_t inputLen, const R_RSA_PUBLIC_KEY* key, bool documentedOnly) {
    return publicOperationPerCall(output, outputLen, input, inputLen, key,
                                  documentedOnly ? Arithmetic::documentedOnly : Arithmetic::engineWhereItFits);
}

std::int32_t rsa_private_raw(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                             std::uint32_t inputLen, const R_RSA_PRIVATE_KEY* key, bool documentedOnly) {
    return privateOperationPerCall(output, outputLen, input, inputLen, key,
                                   documentedOnly ? Arithmetic::documentedOnly : Arithmetic::engineWhereItFits);
}

std::int32_t rsa_private_unchecked(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                                   std::uint32_t inputLen, const R_RSA_PRIVATE_KEY* key, bool documentedOnly) {
    return privateOperationPerCall(output, outputLen, input, inputLen, key,
                                   documentedOnly ? Arithmetic::documentedOnly : Arithmetic::engineWhereItFits,
                                   Release::unchecked);
}

}  // namespace corvane::test_seams
#endif
