// The operations of mont_ops.h for one modulus size at a time. Each size's
// backend is a large set of template instantiations (the portable kernels,
// and the ADX kernels where they cover the size); they are compiled in
// several files, one or two sizes each (mont_ops_<bits>[_<bits>].cpp and
// mont_ops_any_size.cpp), so that no one file takes long to compile, and
// mont_ops.cpp picks the table of the modulus's size at run time. Internal
// to the engine.
#ifndef CORVANE_ENGINE_MONT_OPS_SIZED_H
#define CORVANE_ENGINE_MONT_OPS_SIZED_H

#include <Corvane/nn.h>

#include <cstddef>

#include "engine/bignum/montgomery.h"
#include "engine/bignum/word.h"

namespace corvane::engine {

// The operations of mont_ops.h, run on one size's backend.
struct MontOpsTable {
    void (*montMul)(const MontModulus& mod, Word* r, const Word* a, const Word* b);
    void (*toMont)(const MontModulus& mod, Word* r, const Word* x, std::size_t words);
    void (*montSquareTimes)(const MontModulus& mod, Word* x, unsigned times);
    void (*modExpSecret)(const MontModulus& mod, Word* r, const Word* base, const NN_DIGIT* e,
                         std::size_t digits);
    void (*modExpPublic)(const MontModulus& mod, Word* r, const Word* base, const NN_DIGIT* e,
                         std::size_t digits);
    void (*modExpSecretInterleaved)(const MontModulus& modP, Word* xP, const NN_DIGIT* eP,
                                    const MontModulus& modQ, Word* xQ, const NN_DIGIT* eQ,
                                    std::size_t digits);
};

// The table for moduli of exactly Bits bits (256 to 1024 in steps of 64),
// or for Bits = 0 the one whose backend takes the size at run time. Each is
// defined by one of those files.
template <unsigned Bits>
const MontOpsTable& montOpsFor() noexcept;

#define CORVANE_MONT_OPS_SIZE(bits) extern template const MontOpsTable& montOpsFor<bits>() noexcept;
CORVANE_MONT_OPS_SIZE(0)
CORVANE_MONT_OPS_SIZE(256)
CORVANE_MONT_OPS_SIZE(320)
CORVANE_MONT_OPS_SIZE(384)
CORVANE_MONT_OPS_SIZE(448)
CORVANE_MONT_OPS_SIZE(512)
CORVANE_MONT_OPS_SIZE(576)
CORVANE_MONT_OPS_SIZE(640)
CORVANE_MONT_OPS_SIZE(704)
CORVANE_MONT_OPS_SIZE(768)
CORVANE_MONT_OPS_SIZE(832)
CORVANE_MONT_OPS_SIZE(896)
CORVANE_MONT_OPS_SIZE(960)
CORVANE_MONT_OPS_SIZE(1024)
#undef CORVANE_MONT_OPS_SIZE

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_MONT_OPS_SIZED_H
