// Clearing what secret work leaves behind below the caller.
//
// Every operation of the library that handles a key or a result that is a
// secret clears, before it returns, the stack it used and the vector
// registers (the last bytes a copy, a hash or a cipher moved are still in
// them, and a lazily bound call or a signal's delivery later stores them
// on the stack). Code of your own that moves those secrets afterwards (a
// decrypted key copied, a key written to a file) leaves the same traces in
// its own frames and registers; scrubStackAndRegisters() clears them.
#ifndef CORVANE_MODERN_SCRUB_HPP
#define CORVANE_MODERN_SCRUB_HPP

#include <Corvane/CorvaneCxx20.h>

#include <Corvane/CorvaneExport.h>

namespace corvane::v1 {

// Zeroes the stack below the caller's frame, to the depth of the library's
// deepest operation (a batch's lanes, 56 KiB in an optimised build), then
// every vector register. Call it from the function that handled the
// secrets, once they are gone, before a thread that handled them ends, or
// before the process exits. Costs a few microseconds. Never throws.
CORVANE_EXPORT void scrubStackAndRegisters() noexcept;

}  // namespace corvane::v1

#endif  // CORVANE_MODERN_SCRUB_HPP
