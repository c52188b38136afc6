// The Montgomery operations' backends for 896- and 960-bit moduli (see mont_ops_sized.h).
#include "engine/bignum/sized/mont_ops_sized_impl.h"

namespace corvane::engine {

template const MontOpsTable& montOpsFor<896>() noexcept;
template const MontOpsTable& montOpsFor<960>() noexcept;

}  // namespace corvane::engine
