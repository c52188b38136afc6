// Where Base64 text that the coder refused breaks its rules, for the modern
// layer's error messages. Internal: not installed, not exported.
#ifndef CORVANE_BASE64_FAULT_H
#define CORVANE_BASE64_FAULT_H

#include <Corvane/modern/coding.hpp>
#include <cstdint>
#include <string>

namespace corvane::detail {

// "offset N: why", for text that QVGTMBase64's decoder refused under these
// rules: the first character that cannot stand where it does, or the end
// of the text when it ends inside a group. It follows the decoder's rules
// (whitespace skipped, a NUL refused, "=" only third or fourth in a
// group, the unused bits of the last character zero) and only describes:
// whether text decodes is the decoder's decision alone.
std::string base64FaultDetail(v1::ByteView text, v1::Base64Alphabet alphabet, v1::Base64Padding padding);

// The same words for a NUL byte at the offset (the streaming decoder's).
std::string base64NulDetail(std::uint64_t offset);

}  // namespace corvane::detail

#endif  // CORVANE_BASE64_FAULT_H
