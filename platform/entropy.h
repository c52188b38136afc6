// Bytes from the operating system's entropy source (getentropy, or the
// equivalent call of the platform). Used where predictable values would
// be a weakness: seeding the RSA padding pool and making random 3DES keys.
#ifndef CORVANE_ENTROPY_H
#define CORVANE_ENTROPY_H

#include <cstddef>

namespace corvane {

// Fills out[0..length) with unpredictable bytes. Returns true on success;
// on failure the buffer's contents are unspecified and must not be used.
bool os_entropy(void* out, std::size_t length) noexcept;

}  // namespace corvane

#ifdef CORVANE_TEST_SEAMS
namespace corvane::test_seams {

// Replaces the operating system's source for every caller in the process
// (random keys, pool seeding), so that tests can make it fail or give known
// bytes. Returns the previous stand-in; nullptr restores the real source.
using EntropySource = bool (*)(void* out, std::size_t length);
EntropySource setEntropySource(EntropySource source) noexcept;

}  // namespace corvane::test_seams
#endif

#endif  // CORVANE_ENTROPY_H
