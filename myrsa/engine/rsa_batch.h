// The private operation of rsaPrivateCrt on several inputs under one key at
// once. Where the CPU has AVX-512 IFMA the inputs' exponentiations run in
// the lanes of one vector, so that independent chains hide each other's
// latency; elsewhere they run one after the other. Each item's result and
// verdict are those rsaPrivateCrt gives it alone, and its time does not
// depend on the other items' values.
#ifndef CORVANE_ENGINE_RSA_BATCH_H
#define CORVANE_ENGINE_RSA_BATCH_H

#include <Corvane/nn.h>

#include <cstddef>
#include <cstdint>

#include "engine/word.h"

namespace corvane::engine {

// The most inputs one call takes.
inline constexpr std::size_t kRsaBatchMax = 8;

// For i < count (1..kRsaBatchMax): t[i] and consistent[i] as
// rsaPrivateCrt(t[i], consistent[i], c[i], n, nDigits, p, q, dP, dQ, qInv)
// gives them. Returns false, writing nothing, where rsaPrivateCrt would.
bool rsaPrivateCrtBatch(std::size_t count, NN_DIGIT* const* t, Word* consistent, const NN_DIGIT* const* c,
                        const NN_DIGIT* n, std::uint32_t nDigits, const NN_DIGIT* p, const NN_DIGIT* q,
                        const NN_DIGIT* dP, const NN_DIGIT* dQ, const NN_DIGIT* qInv);

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_RSA_BATCH_H
