// Test-only access to QVDes3's file-local machinery. Defined only when the
// library is built with CORVANE_TEST_SEAMS (the test archive); never part of
// the shared library.
#ifndef CORVANE_QVDES3_SEAMS_H
#define CORVANE_QVDES3_SEAMS_H

#include <Corvane/QVDes3.h>

#include <cstddef>
#include <cstdint>

#include "platform/CommonCrypto.h"

namespace corvane::test_seams {

// A stand-in for the cipher the class calls. The setter returns the previous
// stand-in; nullptr restores the real CCCrypt. (Allocation failures and
// entropy failures are made through the seams of allocation.h and entropy.h.)
using Des3Cipher = CCCryptorStatus (*)(CCOperation op, CCAlgorithm alg, CCOptions options,
                                       const void* key, std::size_t keyLength, const void* iv,
                                       const void* dataIn, std::size_t dataInLength, void* dataOut,
                                       std::size_t dataOutAvailable, std::size_t* dataOutMoved);

Des3Cipher setDes3Cipher(Des3Cipher cipher);

// The general method on a byte range of any claimed length (key not nil), so that the
// length limit can be checked without allocating gigabytes: the bytes are
// not read when the length is refused.
Ref<NSData> des3WithLength(const void* bytes, std::size_t length, const NSData* key,
                           const NSData* iv, std::uint32_t operation, std::int32_t* error);

}  // namespace corvane::test_seams

#endif  // CORVANE_QVDES3_SEAMS_H
