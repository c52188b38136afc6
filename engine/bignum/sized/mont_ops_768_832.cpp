// The Montgomery operations' backends for 768- and 832-bit moduli (see mont_ops_sized.h).
#include "engine/bignum/sized/mont_ops_sized_impl.h"

namespace corvane::engine {

template const MontOpsTable& montOpsFor<768>() noexcept;
template const MontOpsTable& montOpsFor<832>() noexcept;

}  // namespace corvane::engine
