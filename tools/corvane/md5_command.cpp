// corvane md5 [FILE...]: md5sum-compatible digests ("<32 hex>  <name>").
#include <Corvane/md5.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "commands.h"
#include "io.h"
#include "options.h"

namespace corvane::tool {

namespace {

// Hashes one stream in chunks so that large files need no large buffer.
bool digestStream(std::FILE* f, unsigned char digest[16]) {
    MD5_CTX ctx;
    QvMD5Init(&ctx);
    unsigned char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        QvMD5Update(&ctx, chunk, static_cast<uint32_t>(n));
    bool ok = std::ferror(f) == 0;
    QvMD5Final(digest, &ctx);
    return ok;
}

// md5sum's form of a file name: a backslash, line feed or carriage return
// is written as \\, \n or \r, and such a line starts with a backslash.
std::pair<std::string, bool> md5sumName(const std::string& name) {
    std::string out;
    bool escaped = false;
    for (char c : name) {
        const char* replacement = c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        if (replacement == nullptr) {
            out.push_back(c);
        } else {
            out += replacement;
            escaped = true;
        }
    }
    return {out, escaped};
}

}  // namespace

int runMd5(const Args& args) {
    Options options("md5",
                    "usage: corvane md5 [FILE...]\n"
                    "Prints the MD5 digest of each FILE (standard input for none or \"-\")\n"
                    "in the md5sum format. MD5 is kept for interoperability, not security.\n"
                    "Exit status: 0 success, 1 a file could not be read (the others are still\n"
                    "digested), 2 usage error.\n");
    if (!options.parse(args)) return kExitOk;
    Args files = options.positional();
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
        auto [escaped, needsMark] = md5sumName(name);
        if (needsMark) std::fputc('\\', stdout);
        for (unsigned char b : digest) std::printf("%02x", b);
        std::printf("  %s\n", escaped.c_str());
    }
    return status;
}

}  // namespace corvane::tool
