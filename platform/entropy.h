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

#endif  // CORVANE_ENTROPY_H
