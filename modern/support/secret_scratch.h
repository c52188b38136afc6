// A secret's working copy on the stack: wiped, with the vector registers
// it passed through, on every way out of its scope.
// Internal: not installed, not exported.
#ifndef CORVANE_MODERN_SECRET_SCRATCH_H
#define CORVANE_MODERN_SECRET_SCRATCH_H

#include "engine/ct/vector_registers.h"
#include "platform/secure_zero.h"

namespace corvane::detail {

// Holds a T (a block, an array of batch items) for an operation that puts
// a secret in it. Its destructor runs after the function's result has
// been built from it (a returned vector is constructed before the locals
// go), so the copy into the result is covered too: the copy leaves the
// secret's last bytes in the vector registers, which are cleared here.
template <typename T>
struct SecretScratch {
    T value;

    SecretScratch() noexcept = default;
    SecretScratch(const SecretScratch&) = delete;
    SecretScratch& operator=(const SecretScratch&) = delete;
    ~SecretScratch() {
        secure_zero_object(value);
        engine::clearVectorRegisters();
    }
};

}  // namespace corvane::detail

#endif  // CORVANE_MODERN_SECRET_SCRATCH_H
