#include "engine/rsa_batch.h"

#include "engine/rsa_ops.h"

namespace corvane::engine {

bool rsaPrivateCrtBatch(std::size_t count, NN_DIGIT* const* t, Word* consistent, const NN_DIGIT* const* c,
                        const NN_DIGIT* n, std::uint32_t nDigits, const NN_DIGIT* p, const NN_DIGIT* q,
                        const NN_DIGIT* dP, const NN_DIGIT* dQ, const NN_DIGIT* qInv) {
    if (count == 0 || count > kRsaBatchMax) return false;
    for (std::size_t i = 0; i < count; i++)
        if (!rsaPrivateCrt(t[i], consistent[i], c[i], n, nDigits, p, q, dP, dQ, qInv)) return false;
    return true;
}

}  // namespace corvane::engine
