// The Montgomery operations' backends for 1024-bit moduli (see
// mont_ops_sized.h).
#include "engine/bignum/sized/mont_ops_sized_impl.h"

namespace corvane::engine {

template const MontOpsTable& montOpsFor<1024>() noexcept;

}  // namespace corvane::engine
