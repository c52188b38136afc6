// Test-only fault injection into the engine's private operation, for the
// tests of the check before release. Defined only in the test archive
// (CORVANE_TEST_SEAMS), never in the shared library.
#ifndef CORVANE_ENGINE_CRT_GLITCH_SEAMS_H
#define CORVANE_ENGINE_CRT_GLITCH_SEAMS_H

namespace corvane::test_seams {

// A fault the engine's private operation suffers on this thread until
// reset: a bit of the result of the exponentiation modulo the first prime
// flipped (the classic fault that gives away a factor), or a bit of the
// recombined result flipped. With onlyResult set, only that one of the
// results computed from then on (0 for the next, counted through a batch's
// items in order) suffers it.
enum class CrtGlitch { none, exponentiation, recombination };
CrtGlitch rsa_crt_glitch();
void set_rsa_crt_glitch(CrtGlitch glitch, int onlyResult = -1);
// The glitch the result now being computed suffers; counts it.
CrtGlitch rsa_crt_glitch_of_next_result();

}  // namespace corvane::test_seams

#endif  // CORVANE_ENGINE_CRT_GLITCH_SEAMS_H
