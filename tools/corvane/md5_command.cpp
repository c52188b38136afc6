// corvane md5 [FILE...]: md5sum-compatible digests ("<32 hex>  <name>").
#include <Corvane/md5.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "io.h"

namespace corvane::tool {

namespace {

// Hashes one stream in chunks so that large files need no large buffer.
bool digestStream(std::FILE* f, unsigned char digest[16]) {
    MD5_CTX ctx;
    QvMD5Init(&ctx);
    unsigned char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) QvMD5Update(&ctx, chunk, static_cast<uint32_t>(n));
    bool ok = std::ferror(f) == 0;
    QvMD5Final(digest, &ctx);
    return ok;
}

}  // namespace

int runMd5(const Args& args) {
    Args files;
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::printf(
                "usage: corvane md5 [FILE...]\n"
                "Prints the MD5 digest of each FILE (standard input for none or \"-\")\n"
                "in the md5sum format. MD5 is kept for interoperability, not security.\n");
            return kExitOk;
        }
        if (a.size() > 1 && a[0] == '-' && a != "-") {
            printError("md5: unknown option " + a + " (see corvane md5 --help)");
            return kExitUsage;
        }
        files.push_back(a);
    }
    if (files.empty()) files.push_back("-");

    int status = kExitOk;
    for (const std::string& name : files) {
        std::FILE* f = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
        unsigned char digest[16];
        if (f == nullptr || !digestStream(f, digest)) {
            printError("md5: " + name + ": " + std::strerror(errno));
            if (f != nullptr && f != stdin) std::fclose(f);
            status = kExitFailure;
            continue;
        }
        if (f != stdin) std::fclose(f);
        for (unsigned char b : digest) std::printf("%02x", b);
        std::printf("  %s\n", name.c_str());
    }
    return status;
}

}  // namespace corvane::tool
