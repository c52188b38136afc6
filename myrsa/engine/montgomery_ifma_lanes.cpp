#include "engine/montgomery_ifma_lanes.h"

#include "engine/mont_ops.h"

namespace corvane::engine {

bool ifmaLanesRun(std::size_t n) noexcept { return ifmaCovers(n) && ifmaAvailable(); }

// For now each lane in turn by the scalar exponentiation; the vector kernel
// replaces this.
void modExpLanesIfma(std::size_t lanes, const MontModulus* const* mods, Word* const* x, const NN_DIGIT* const* e,
                     std::size_t digits) noexcept {
    for (std::size_t i = 0; i < lanes && i < kIfmaMaxLanes; i++) modExpSecret(*mods[i], x[i], x[i], e[i], digits);
}

}  // namespace corvane::engine
