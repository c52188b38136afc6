// Test-only access to the random pool's file-local clock-word hash and its
// process-wide word. Defined only when the library is built with
// CORVANE_TEST_SEAMS (the test archive); never part of the shared library.
#ifndef CORVANE_R_RANDOM_SEAMS_H
#define CORVANE_R_RANDOM_SEAMS_H

#include <cstdint>

namespace corvane::test_seams {

// The clock-word hash that QV_R_RandomCreate applies to the calendar time.
std::uint32_t subrand(std::int64_t seed);
// The process-wide word that a negative seed sets.
std::int64_t subrand_idums();
// Puts the process-wide word back to zero, its value at load, so that a
// test of a negative seed does not change what later tests see.
void reset_subrand_idums();

}  // namespace corvane::test_seams

#endif  // CORVANE_R_RANDOM_SEAMS_H
