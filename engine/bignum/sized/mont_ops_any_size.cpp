// The Montgomery operations' backend that takes the modulus's size at run
// time, for the sizes without one of their own (see mont_ops_sized.h).
#include "engine/bignum/sized/mont_ops_sized_impl.h"

namespace corvane::engine {

template const MontOpsTable& montOpsFor<0>() noexcept;

}  // namespace corvane::engine
