// Vector kernels of the Base64 coder. Internal, not installed, not exported.
//
// Each kernel file is compiled for its own instruction set only and is
// called through the kernel set that the coder chooses once from
// cpu_features(). The kernels do the bulk of the work in the two cases the
// scalar coder already treats in whole groups, and hand back at a group
// boundary; the scalar coder then carries on exactly as if it had done those
// groups itself, so every result, every byte written and every report stays
// the same on every path:
//  - encoding: whole groups of three bytes into four characters;
//  - decoding: whole groups of four alphabet characters into three bytes,
//    stopping before the first group that holds anything else (whitespace,
//    a pad, NUL, a byte outside the alphabet) or that would not fit.
// A kernel reads and writes nothing outside the ranges it is given.
#ifndef CORVANE_QVGTMBASE64_VECTOR_H
#define CORVANE_QVGTMBASE64_VECTOR_H

#include <cstddef>

namespace corvane::base64_vector {

// The two alphabets the kernels know; any other alphabet or table stays on
// the scalar code.
enum class Alphabet : unsigned char { standard, webSafe };

// Encodes up to `groups` whole groups of three bytes from src into four
// characters each at dest. Reads at most 3 * groups bytes; returns the number
// of groups encoded, g, having written exactly 4 * g characters.
using EncodeKernel = std::size_t (*)(const unsigned char* src, std::size_t groups, unsigned char* dest,
                                     Alphabet alphabet);

// Decodes whole groups of four alphabet characters from the start of src,
// which holds `chars` readable bytes, into dest, which has room for `room`
// bytes. Stops before the first group that is not four alphabet characters
// or whose three bytes would not fit. Returns the characters consumed, a
// multiple of four, having written exactly three bytes for each four.
using DecodeKernel = std::size_t (*)(const unsigned char* src, std::size_t chars, unsigned char* dest,
                                     std::size_t room, Alphabet alphabet);

// One path's kernels; null members leave all the work to the scalar code.
struct Kernels {
    EncodeKernel encode = nullptr;
    DecodeKernel decode = nullptr;
};

// Defined by each kernel file; null when the file was built without its
// instruction set (another architecture or compiler). Constant data, so
// nothing of a kernel file runs before the CPU has been checked.
extern const Kernels kAvx2Kernels;
extern const Kernels kAvx512VbmiKernels;

}  // namespace corvane::base64_vector

#endif  // CORVANE_QVGTMBASE64_VECTOR_H
