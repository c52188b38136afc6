// Clears the stack below the caller after a private-key operation.
//
// The operation's own buffers are wiped where they are declared, but the
// compiler also spills registers, saves vector lanes and lays out the
// temporaries of inlined helpers in frames the source does not name (the
// vector kernels keep whole numbers in registers and spill them freely).
// Those frames lie below the entry point's, within the depth the operation
// reached; zeroing that much stack from a fresh frame at the same depth,
// once the operation has returned, clears them all, whichever path or
// instruction set ran. The vector registers are zeroed with it
// (vector_registers.h): the last secret bytes moved are still in them.
#ifndef CORVANE_ENGINE_STACK_SCRUB_H
#define CORVANE_ENGINE_STACK_SCRUB_H

#include <cstddef>

namespace corvane::engine {

// Bytes of stack the scrub clears: the deepest private operation with room
// to spare. Measured by the stack scan test below the entry point on every
// path of an optimised build: the IFMA path goes deepest, about 14 KiB.
// Unoptimised builds keep every temporary in its own slot and go deeper.
#if defined(__OPTIMIZE__)
constexpr std::size_t kStackScrubBytes = 20 * 1024;
#else
constexpr std::size_t kStackScrubBytes = 64 * 1024;
#endif

// A batch runs up to sixteen exponentiations in the lanes of two vectors,
// whose state (about 27 KiB for 512-bit primes) lies on the stack: the scan
// measures 38 KiB below the entry point for a batch of eight 1024-bit
// decryptions.
#if defined(__OPTIMIZE__)
constexpr std::size_t kBatchStackScrubBytes = 56 * 1024;
#else
constexpr std::size_t kBatchStackScrubBytes = 80 * 1024;
#endif

// Zeroes kStackScrubBytes of stack below the caller's frame, then the
// vector registers. Call it from
// the function that called the operation, right after it returns. Never
// inlined, so that its frame starts where the operation's did.
void scrubStack() noexcept;

// The same for the batch operations: kBatchStackScrubBytes.
void scrubBatchStack() noexcept;

// scrubStack() when it goes out of scope. Declared first in the function
// that runs an operation, it scrubs once the operation has returned, on
// every path (the key readers and writers use it: a key's bytes pass
// through registers that the compiler spills, and that a lazily bound
// program's first call of a library function saves on the stack).
struct ScrubStackOnReturn {
    ScrubStackOnReturn() = default;
    ScrubStackOnReturn(const ScrubStackOnReturn&) = delete;
    ScrubStackOnReturn& operator=(const ScrubStackOnReturn&) = delete;
    ~ScrubStackOnReturn() { scrubStack(); }
};

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_STACK_SCRUB_H
