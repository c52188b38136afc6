// The Montgomery operations' backends for 640- and 704-bit moduli (see mont_ops_sized.h).
#include "engine/bignum/sized/mont_ops_sized_impl.h"

namespace corvane::engine {

template const MontOpsTable& montOpsFor<640>() noexcept;
template const MontOpsTable& montOpsFor<704>() noexcept;

}  // namespace corvane::engine
