// The block operations of rsa.cpp on keys whose engine set-up is done once
// (engine/rsa_prepared.h): the modern layer's key objects keep it for their
// lifetime. The QV_RSA functions prepare the key on every call and run the
// same steps, so results, statuses and wipes are theirs: padding, the raw
// operation, the check of a private result before release, the
// constant-time check of a decrypted block.
//
// Internal to the library: neither exported nor installed. `prepared` must
// be the preparation of `key` (rsa_blocks::prepare); where the engine does
// not take the key it says so, and the documented steps run instead.
#ifndef CORVANE_RSA_BLOCKS_H
#define CORVANE_RSA_BLOCKS_H

#include <Corvane/r_random.h>
#include <Corvane/rsa.h>

#include <cstddef>
#include <cstdint>

#include "engine/bignum/rsa_prepared.h"

namespace corvane::rsa_blocks {

// The engine's set-up of a key record. The private one holds secrets: wipe
// it with the key (secure_zero_object).
void prepare(engine::PreparedPublicKey& prepared, const R_RSA_PUBLIC_KEY& key) noexcept;
void prepare(engine::PreparedPrivateKey& prepared, const R_RSA_PRIVATE_KEY& key) noexcept;

// As QV_RSAPublicEncrypt, QV_RSAPublicDecrypt, QV_RSAPrivateEncrypt and
// QV_RSAPrivateDecrypt.
std::int32_t publicEncrypt(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                           std::uint32_t inputLen, const R_RSA_PUBLIC_KEY& key,
                           const engine::PreparedPublicKey& prepared, R_RANDOM_STRUCT* randomStruct) noexcept;
std::int32_t publicDecrypt(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                           std::uint32_t inputLen, const R_RSA_PUBLIC_KEY& key,
                           const engine::PreparedPublicKey& prepared) noexcept;
std::int32_t privateEncrypt(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                            std::uint32_t inputLen, const R_RSA_PRIVATE_KEY& key,
                            const engine::PreparedPrivateKey& prepared) noexcept;
std::int32_t privateDecrypt(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                            std::uint32_t inputLen, const R_RSA_PRIVATE_KEY& key,
                            const engine::PreparedPrivateKey& prepared) noexcept;

// The raw private operation alone, for decryptions whose block check lies
// above this layer: output = input ^ d mod n as the key's modulusLen bytes
// (a secret: the caller wipes it), checked before release as privateDecrypt
// checks it. QV_STATUS_BAD_LENGTH for an unusable key size or an input
// longer than the modulus, QV_STATUS_BAD_DATA for an input not below n or a
// result the check refuses; nothing else decides the status. The stack is
// scrubbed before it returns.
std::int32_t privateRaw(unsigned char* output, std::uint32_t* outputLen, const unsigned char* input,
                        std::uint32_t inputLen, const R_RSA_PRIVATE_KEY& key,
                        const engine::PreparedPrivateKey& prepared) noexcept;

// One input of a batch and its outcome: status as the single operation
// returns it, and on success outputLen bytes of output (a decryption's
// plaintext: the caller wipes it after use).
struct BatchItem {
    const unsigned char* input = nullptr;
    std::uint32_t inputLen = 0;
    unsigned char output[MAX_RSA_MODULUS_LEN];
    std::uint32_t outputLen = 0;
    std::int32_t status = 0;
};

// privateDecrypt and privateEncrypt on each of `count` items, the raw
// operations of up to engine::kRsaBatchMax items at a time through the
// engine's batch. Each item's outcome is the single operation's; an item
// refused by its length or value does not join the others' computation.
void privateDecryptBatch(BatchItem* items, std::size_t count, const R_RSA_PRIVATE_KEY& key,
                         const engine::PreparedPrivateKey& prepared) noexcept;
void privateEncryptBatch(BatchItem* items, std::size_t count, const R_RSA_PRIVATE_KEY& key,
                         const engine::PreparedPrivateKey& prepared) noexcept;
// privateRaw on each item, likewise: on success outputLen is the modulus
// length and output the raw result.
void privateRawBatch(BatchItem* items, std::size_t count, const R_RSA_PRIVATE_KEY& key,
                     const engine::PreparedPrivateKey& prepared) noexcept;

}  // namespace corvane::rsa_blocks

#endif  // CORVANE_RSA_BLOCKS_H
