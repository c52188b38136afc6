// Test-only hooks into QVSimpleRSA.cpp, compiled in with CORVANE_TEST_SEAMS.
#ifndef CORVANE_QVSIMPLERSA_SEAMS_H
#define CORVANE_QVSIMPLERSA_SEAMS_H

namespace corvane::test_seams {

// Makes the next key record allocation of setPublicKey fail, as if memory
// had run out.
void qvSimpleRSAFailNextKeyAllocation();

}  // namespace corvane::test_seams

#endif  // CORVANE_QVSIMPLERSA_SEAMS_H
