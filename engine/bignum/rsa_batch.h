// The private operation of rsaPrivateCrtPrepared on several inputs under one
// key at once. Where the CPU has AVX-512 IFMA the inputs' exponentiations
// run in the lanes of one vector (each input's residues modulo p and modulo
// q in two lanes), so that independent chains hide each other's latency;
// elsewhere they run one after the other. Each item's result and verdict
// are those rsaPrivateCrtPrepared gives it alone, and its time does not
// depend on the other items' values.
#ifndef CORVANE_ENGINE_RSA_BATCH_H
#define CORVANE_ENGINE_RSA_BATCH_H

#include <Corvane/nn.h>

#include <cstddef>

#include "engine/bignum/rsa_prepared.h"
#include "engine/bignum/word.h"

namespace corvane::engine {

// The most inputs one call takes: two lanes each.
inline constexpr std::size_t kRsaBatchMax = 8;

// For i < count (at most kRsaBatchMax): t[i] and consistent[i] as
// rsaPrivateCrtPrepared(key, t[i], consistent[i], c[i]) gives them, on a
// usable key, each c[i] below n. Where raised is not null (the key's public
// exponent is not zero), also the check before release: raised[i] all ones
// when t[i]^e mod n = c[i], as raisesTo gives it for a consistent result;
// in the lanes it is made modulo each prime (zero for a key whose primes
// are equal, for which that does not tell).
void rsaPrivateCrtBatch(const PreparedPrivateKey& key, std::size_t count, NN_DIGIT* const* t, Word* consistent,
                        const NN_DIGIT* const* c, Word* raised = nullptr) noexcept;

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_RSA_BATCH_H
