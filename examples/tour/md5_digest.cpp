// MD5 over a message fed in two pieces; the digest must be RFC 1321's.
#include <Corvane/md5.h>

#include <cstdio>
#include <cstring>

int main() {
    const char* part1 = "message ";
    const char* part2 = "digest";
    MD5_CTX ctx;
    QvMD5Init(&ctx);
    QvMD5Update(&ctx, reinterpret_cast<const unsigned char*>(part1),
                static_cast<uint32_t>(std::strlen(part1)));
    QvMD5Update(&ctx, reinterpret_cast<const unsigned char*>(part2),
                static_cast<uint32_t>(std::strlen(part2)));
    unsigned char digest[16];
    QvMD5Final(digest, &ctx);  // also wipes ctx

    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    std::printf("MD5(\"message digest\") = %s\n", hex);
    return std::strcmp(hex, "f96b697d7cb7938d525a2f31aaf161d0") == 0 ? 0 : 1;
}
