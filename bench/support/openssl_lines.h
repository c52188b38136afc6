// What the OpenSSL peers of the tool's line benchmarks share
// (openssl_rsa_lines, openssl_envelope_lines): the failure exit and the
// decoding of one Base64 field with OpenSSL's own coder.
#ifndef CORVANE_BENCH_OPENSSL_LINES_H
#define CORVANE_BENCH_OPENSSL_LINES_H

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace openssl_lines {

[[noreturn]] inline void fail(const char* program, const char* what) {
    std::fprintf(stderr, "%s: %s\n", program, what);
    std::exit(1);
}

// The bytes of length characters of Base64 into out (resized to hold
// them; EVP_DecodeBlock counts the padding as zero bytes, which are taken
// off); -1 for text it refuses.
inline int decodeField(const char* text, std::size_t length, std::vector<unsigned char>& out) {
    if (length % 4 != 0) return -1;
    out.resize(length / 4 * 3 + 3);
    int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text), static_cast<int>(length));
    if (n < 0) return -1;
    for (std::size_t i = length; i > 0 && text[i - 1] == '='; --i) --n;
    return n;
}

}  // namespace openssl_lines

#endif
