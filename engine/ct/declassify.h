// Marks values derived from secrets as public where they are public by
// nature, for the constant-time check under valgrind memcheck.
//
// That check runs the private-key operations with the key's secret fields
// marked undefined, so that any branch or memory index that depends on them
// is reported. A few facts about a key decide which code runs and are no
// secret of any real key: the bit lengths of its primes (half the modulus
// length) and whether the engine can take it at all (every well-formed key
// can). Those are declassified here. In builds for that check
// (CORVANE_CT_VALIDATION, set on the test archive when valgrind's header is
// present) this tells memcheck the bytes are defined; everywhere else it
// compiles to nothing.
#ifndef CORVANE_ENGINE_DECLASSIFY_H
#define CORVANE_ENGINE_DECLASSIFY_H

#include <cstddef>

#if defined(CORVANE_CT_VALIDATION)
#include <valgrind/memcheck.h>
#endif

namespace corvane::engine {

inline void declassify([[maybe_unused]] const void* p, [[maybe_unused]] std::size_t n) {
#if defined(CORVANE_CT_VALIDATION)
    VALGRIND_MAKE_MEM_DEFINED(p, n);
#endif
}

}  // namespace corvane::engine

#endif  // CORVANE_ENGINE_DECLASSIFY_H
