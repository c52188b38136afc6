// Zeroes the vector registers once secret bytes have passed through them.
//
// Copies, Base64 coding, hashing and the vector kernels leave the last
// bytes they moved in the vector registers (the C library's copies use
// the upper sixteen AVX-512 registers precisely because nothing else
// touches them), and those registers reach memory later without any code
// of ours running: a lazily bound program's first call of a library
// function saves them all on the stack, and so does the kernel when it
// delivers a signal. Wiping the stack after a secret operation is then not
// enough; the registers must be cleared as well. stack_scrub.h does both.
#ifndef CORVANE_ENGINE_VECTOR_REGISTERS_H
#define CORVANE_ENGINE_VECTOR_REGISTERS_H

namespace corvane::engine {

// Zeroes every vector register the process has (all of zmm0-31 where the
// OS saves the AVX-512 state, ymm0-15 with AVX, xmm0-15 otherwise; v0-v31
// on arm64). Safe to call anywhere: the registers it zeroes are the ones a
// call may change anyway, or are saved and restored around it.
void clearVectorRegisters() noexcept;

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_VECTOR_REGISTERS_H
