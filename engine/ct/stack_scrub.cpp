#include "engine/ct/stack_scrub.h"

#include "engine/ct/vector_registers.h"
#include "platform/secure_zero.h"

namespace corvane::engine {

// secure_zero is a wipe the optimiser may not drop, though the array dies
// at once; noinline keeps this frame separate from the caller's. The
// registers go last: the wipe itself leaves only zeros in them.
[[gnu::noinline]] void scrubStack() noexcept {
    unsigned char area[kStackScrubBytes];
    secure_zero(area, sizeof area);
    clearVectorRegisters();
}

[[gnu::noinline]] void scrubBatchStack() noexcept {
    unsigned char area[kBatchStackScrubBytes];
    secure_zero(area, sizeof area);
    clearVectorRegisters();
}

}  // namespace corvane::engine
