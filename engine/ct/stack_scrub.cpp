#include "engine/ct/stack_scrub.h"

#include "platform/secure_zero.h"

namespace corvane::engine {

// secure_zero is a wipe the optimiser may not drop, though the array dies
// at once; noinline keeps this frame separate from the caller's.
[[gnu::noinline]] void scrubStack() noexcept {
    unsigned char area[kStackScrubBytes];
    secure_zero(area, sizeof area);
}

[[gnu::noinline]] void scrubBatchStack() noexcept {
    unsigned char area[kBatchStackScrubBytes];
    secure_zero(area, sizeof area);
}

}  // namespace corvane::engine
