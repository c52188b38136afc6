// The Montgomery operations' backends for 256- and 320-bit moduli (see mont_ops_sized.h).
#include "engine/bignum/sized/mont_ops_sized_impl.h"

namespace corvane::engine {

template const MontOpsTable& montOpsFor<256>() noexcept;
template const MontOpsTable& montOpsFor<320>() noexcept;

}  // namespace corvane::engine
