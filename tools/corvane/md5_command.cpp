// corvane md5 [FILE...] | -c [--quiet | --status] [LIST...]: md5sum-compatible
// digests ("<32 hex>  <name>") and their checking.
#include <Corvane/md5.h>

#include <Corvane/corvane.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "io.h"
#include "md5_files.h"
#include "options.h"

namespace corvane::tool {

namespace {

const char kHelp[] =
    "usage: corvane md5 [FILE...]\n"
    "       corvane md5 -c [--quiet | --status] [LIST...]\n"
    "Prints the MD5 digest of each FILE (standard input for none or \"-\") in\n"
    "the md5sum format. MD5 is kept for interoperability, not security.\n"
    "\n"
    "  -c, --check   read digests from each LIST (standard input for none or \"-\"),\n"
    "                in the form md5sum writes or the BSD form\n"
    "                \"MD5 (name) = digest\", and check them, as md5sum -c does:\n"
    "                \"name: OK\" or \"name: FAILED\" for each, warnings at the end\n"
    "  --quiet       with -c: print only the failures\n"
    "  --status      with -c: print nothing; the exit status tells\n"
    "\n"
    "Exit status: 0 success, 1 a file could not be read (the others are still\n"
    "digested) or, with -c, a digest did not match, a listed file could not be\n"
    "read or a list held no digest line, 2 usage error.\n";

}  // namespace

std::optional<Md5Digest> digestFile(const std::string& path) {
    std::FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (f == nullptr) return std::nullopt;
    MD5_CTX ctx;
    QvMD5Init(&ctx);
    unsigned char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        QvMD5Update(&ctx, chunk, static_cast<uint32_t>(n));
    bool ok = std::ferror(f) == 0;
    int cause = errno;
    Md5Digest digest;
    QvMD5Final(digest.data(), &ctx);
    if (f != stdin) std::fclose(f);
    errno = cause;
    if (!ok) return std::nullopt;
    return digest;
}

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

int runMd5(const Args& args) {
    bool check = false, quiet = false, status = false;
    Options options("md5", kHelp);
    options.flag({"--check", "-c"}, check).flag({"--quiet"}, quiet).flag({"--status"}, status);
    if (!options.parse(args)) return kExitOk;
    if ((quiet || status) && !check)
        options.fail(std::string(quiet ? "--quiet" : "--status") + " goes with -c");
    if (quiet && status) options.fail("give either --quiet or --status, not both");
    Args files = options.positional();
    if (files.empty()) files.push_back("-");
    if (check) return checkDigestLists(files, quiet, status);

    int exitStatus = kExitOk;
    for (const std::string& name : files) {
        errno = 0;
        std::optional<Md5Digest> digest = digestFile(name);
        if (!digest) {
            printError("md5: " + name + ": " + std::strerror(errno != 0 ? errno : EIO));
            exitStatus = kExitFailure;
            continue;
        }
        auto [escaped, needsMark] = md5sumName(name);
        writeText((needsMark ? "\\" : "") + v1::hexEncode(*digest) + "  " + escaped + "\n");
    }
    return exitStatus;
}

}  // namespace corvane::tool
