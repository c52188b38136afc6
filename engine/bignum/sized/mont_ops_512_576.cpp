// The Montgomery operations' backends for 512- and 576-bit moduli (see mont_ops_sized.h).
#include "engine/bignum/sized/mont_ops_sized_impl.h"

namespace corvane::engine {

template const MontOpsTable& montOpsFor<512>() noexcept;
template const MontOpsTable& montOpsFor<576>() noexcept;

}  // namespace corvane::engine
