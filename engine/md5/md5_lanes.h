// MD5 digests of many 16-byte messages at once: the random pool's output
// blocks are the digests of successive 16-byte states, independent of one
// another, so a request for many bytes can hash its states side by side,
// one state per 32-bit lane of a vector. Each message fills a single MD5
// block (its padding and length are constants), which is all the lanes
// compute. The digests are those of the package's MD5, byte for byte.
#ifndef CORVANE_MD5_LANES_H
#define CORVANE_MD5_LANES_H

#include <cstddef>

namespace corvane::md5_lanes {

// The most messages one call of the vector path hashes at once.
inline constexpr std::size_t kMaxMessages = 16;

// digests[i] = MD5 of the 16 bytes messages[i], for i < count (at most
// kMaxMessages). On AVX-512 (as capped by CORVANE_CPU) two or more run in
// the lanes of one vector; otherwise, and for one message, one after the
// other through the package's MD5.
void digestsOf(const unsigned char (*messages)[16], std::size_t count, unsigned char (*digests)[16]) noexcept;

}  // namespace corvane::md5_lanes

#endif  // CORVANE_MD5_LANES_H
