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

#include "engine/rsa_prepared.h"
#include "engine/word.h"

namespace corvane::engine {

// The most inputs one call takes: two lanes each.
inline constexpr std::size_t kRsaBatchMax = 8;

// For i < count (at most kRsaBatchMax): t[i] and consistent[i] as
// rsaPrivateCrtPrepared(key, t[i], consistent[i], c[i]) gives them, on a
// usable key, each c[i] below n.
void rsaPrivateCrtBatch(const PreparedPrivateKey& key, std::size_t count, NN_DIGIT* const* t, Word* consistent,
                        const NN_DIGIT* const* c) noexcept;

// For i < count (at most kRsaBatchMax): matches[i] as raisesTo(key, t[i],
// c[i]) gives it, on a usable key whose public exponent is not zero: the
// check before release of a batch's results. Where the CPU has AVX-512 IFMA
// the results are raised to e modulo n in the lanes of one vector, all
// under n's own constants, the private values playing no part; elsewhere
// one after the other. The time depends on e, n and count only.
void raisesToBatch(const PreparedPublicKey& key, std::size_t count, const NN_DIGIT* const* t,
                   const NN_DIGIT* const* c, Word* matches) noexcept;

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_RSA_BATCH_H
