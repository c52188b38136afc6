// The two exponentiations of the private operation (one per prime), done
// together: by the IFMA kernels where the CPU has them (montgomery_ifma.h),
// by two interleaved chains of the scalar products elsewhere
// (exponent_pair.h), or one after the other, the plain way, which stays as
// the reference the others are tested against. Every path gives the same
// residues and runs in time that depends on the sizes only.
#ifndef CORVANE_ENGINE_CRT_EXPONENT_H
#define CORVANE_ENGINE_CRT_EXPONENT_H

#include <Corvane/nn.h>

#include <cstddef>

#include "engine/bignum/montgomery.h"
#include "engine/bignum/word.h"

namespace corvane::engine {

struct IfmaPairConstants;

enum class PairPath { oneAfterTheOther, interleaved, ifma, ifmaRightToLeft };

// The path for moduli of n words on this CPU (as capped by CORVANE_CPU).
PairPath fastestPairPath(std::size_t n) noexcept;

// Whether `path` can run for moduli of n words on this CPU.
bool pairPathRuns(PairPath path, std::size_t n) noexcept;

// xP = xP^eP modulo modP and xQ = xQ^eQ modulo modQ, residues in Montgomery
// form below their moduli, both moduli of the same word count, exponents of
// `digits` digits, by `path` (which must run: pairPathRuns). Constant time
// as modExpSecret. `ifmaConstants`, when given, are both moduli's
// constants for the IFMA paths (prepareIfmaPairConstants), P's first; the
// other paths ignore them.
void modExpSecretPair(PairPath path, const MontModulus& modP, Word* xP, const NN_DIGIT* eP,
                      const MontModulus& modQ, Word* xQ, const NN_DIGIT* eQ, std::size_t digits,
                      const IfmaPairConstants* ifmaConstants = nullptr);

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_CRT_EXPONENT_H
