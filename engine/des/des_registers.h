// Clears the vector registers on the way out of a kernel. They keep round
// state, round keys and plaintext after the kernel returns, and the C
// library's lazy binding of a function called for the first time saves
// every vector register to the stack, where a later scan would find them
// (the callers scrub the stack below them, but a binding made by their
// caller's later calls lies outside that). The portable kernels, which keep
// their state in general registers, have nothing to clear here. The
// clearing itself is the one every engine uses (engine/ct).
#ifndef CORVANE_DES_REGISTERS_H
#define CORVANE_DES_REGISTERS_H

#include "engine/ct/vector_registers.h"

namespace corvane::des {
namespace {

// Whether this file's build has vector registers to clear.
#if defined(__AVX__)
inline constexpr bool kClearsRegisters = true;
#else
inline constexpr bool kClearsRegisters = false;
#endif

inline void clearVectorRegisters() { corvane::engine::clearVectorRegisters(); }

}  // namespace
}  // namespace corvane::des

#endif  // CORVANE_DES_REGISTERS_H
