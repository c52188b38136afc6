// The Montgomery operations' backends for 384- and 448-bit moduli (see mont_ops_sized.h).
#include "engine/bignum/sized/mont_ops_sized_impl.h"

namespace corvane::engine {

template const MontOpsTable& montOpsFor<384>() noexcept;
template const MontOpsTable& montOpsFor<448>() noexcept;

}  // namespace corvane::engine
