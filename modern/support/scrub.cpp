#include <Corvane/modern/scrub.hpp>

#include "engine/ct/stack_scrub.h"

namespace corvane::v1 {

// The batch depth: the deepest any operation of the library reaches.
void scrubStackAndRegisters() noexcept { engine::scrubBatchStack(); }

}  // namespace corvane::v1
