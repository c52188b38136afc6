// Links the installed library and checks one known answer, so that a broken
// install (missing header, wrong library path, missing symbol) fails loudly.
// The umbrella header and the modern layer: every public header must be
// installed and compile, and both APIs must link.
#include <Corvane/Corvane.h>
#include <Corvane/corvane.hpp>

#include <cstdio>
#include <cstring>

int main() {
    const unsigned char message[] = "abc";
    unsigned char digest[16];
    MD5_CTX ctx;
    QvMD5Init(&ctx);
    QvMD5Update(&ctx, message, 3);
    QvMD5Final(digest, &ctx);

    const unsigned char expected[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                        0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    if (std::memcmp(digest, expected, sizeof expected) != 0) {
        std::fprintf(stderr, "consumer: MD5(\"abc\") is wrong\n");
        return 1;
    }
    corvane::v1::Md5::Digest modern = corvane::v1::md5("abc");
    if (std::memcmp(modern.data(), expected, sizeof expected) != 0) {
        std::fprintf(stderr, "consumer: the modern layer's MD5(\"abc\") is wrong\n");
        return 1;
    }
    std::printf("consumer: linked Corvane %.1f, MD5(\"abc\") ok through both APIs\n", CorvaneVersionNumber);
    return 0;
}
