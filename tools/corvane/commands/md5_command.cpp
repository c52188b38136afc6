// corvane md5 [--tag] [-z] [FILE...] | -c [options] [LIST...]: md5sum-compatible
// digests ("<32 hex>  <name>", or BSD-style lines) and their checking.
#include <Corvane/md5.h>

#include <Corvane/corvane.hpp>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/corvane/commands/commands.h"
#include "tools/corvane/commands/md5_files.h"
#include "tools/corvane/io/chunked_io.h"
#include "tools/corvane/io/io.h"
#include "tools/corvane/options/options.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

namespace {

const char kHelp[] =
    "usage: corvane md5 [-b | -t] [--tag] [-z] [--progress] [FILE...]\n"
    "       corvane md5 -c [--quiet | --status | -w] [--strict] [--ignore-missing]\n"
    "                      [--progress] [LIST...]\n"
    "Prints the MD5 digest of each FILE (standard input for none or \"-\") in\n"
    "the md5sum format. MD5 is kept for interoperability, not security.\n"
    "-b and -t are taken as md5sum takes them: every file is read as bytes, and\n"
    "-b marks the name with \"*\" (\"<digest> *<name>\").\n"
    "\n"
    "With -c, lines may be in the form md5sum writes, the BSD form\n"
    "\"MD5 (name) = digest\" or openssl's \"MD5(name)= digest\"; each LIST is\n"
    "standard input for none or \"-\".\n"
    "\n"
    "Exit status: 0 success, 1 a file could not be read (the others are still\n"
    "digested) or, with -c, a digest did not match, a listed file could not be\n"
    "read, a list held no digest line (or, with --ignore-missing, verified no\n"
    "file) or, with --strict, a line was improperly formatted, 2 usage error.\n";

}  // namespace

std::optional<Md5Digest> digestFile(const std::string& path, bool progress) {
    std::FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (f == nullptr) return std::nullopt;
    MD5_CTX ctx;
    QvMD5Init(&ctx);
    std::array<std::uint8_t, 65536> chunk;
    bool ok = true;
    int cause = 0;
    {
        CountingReader reader(f, inputName(path), progress);
        while (std::size_t n = reader.read(chunk)) QvMD5Update(&ctx, chunk.data(), static_cast<uint32_t>(n));
        ok = std::ferror(f) == 0;
        cause = errno;
        if (ok) reader.finish();
    }
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
    bool check = false, tag = false, zero = false, binary = false, text = false;
    Md5CheckOptions checking;
    Options options("md5", kHelp);
    options
        .flag({"--check", "-c"}, check,
              "read digests from each LIST and check them, as md5sum -c does: \"name: OK\" or \"name: FAILED\" "
              "for each, warnings at the end")
        .flag({"--quiet"}, checking.quiet, "with -c: print only the failures")
        .flag({"--status"}, checking.status, "with -c: print nothing; the exit status tells")
        .flag({"--binary", "-b"}, binary, "mark each name as read in binary mode: a \"*\" before it")
        .flag({"--text", "-t"}, text, "mark each name as read in text mode, the default: a blank before it")
        .flag({"--tag"}, tag, "write BSD-style lines, \"MD5 (name) = digest\"")
        .flag({"--zero", "-z"}, zero,
              "end each line with a NUL byte instead of a line feed, and write names as they are (no escaping)")
        .flag({"--warn", "-w"}, checking.warn, "with -c: warn about each improperly formatted line")
        .flag({"--strict"}, checking.strict, "with -c: improperly formatted lines are a failure")
        .flag({"--ignore-missing"}, checking.ignoreMissing, "with -c: pass over listed files that do not exist")
        .flag({"--progress"}, checking.progress, kProgressHelp);
    if (!options.parse(args)) return kExitOk;
    if (!check) {
        for (const auto& [given, name] : {std::pair{checking.quiet, "--quiet"},
                                          {checking.status, "--status"},
                                          {checking.warn, "--warn"},
                                          {checking.strict, "--strict"},
                                          {checking.ignoreMissing, "--ignore-missing"}})
            if (given) options.fail(std::string(name) + " goes with -c");
    }
    if (check && tag) options.fail("--tag is meaningless when checking digests");
    if (check && (binary || text))
        options.fail("the --binary and --text options are meaningless when verifying checksums");
    // md5sum lets the last of the two win; here they are refused together.
    if (binary && text) options.fail("give either --binary or --text, not both");
    if (tag && text) options.fail("--tag does not support --text mode");
    if (check && zero) options.fail("--zero is not supported when checking digests");
    // md5sum lets the last of these win; here they are refused together.
    if (int(checking.quiet) + int(checking.status) + int(checking.warn) > 1)
        options.fail(checking.warn ? "give only one of --warn, --quiet and --status"
                                   : "give either --quiet or --status, not both");
    Args files = options.positional();
    if (files.empty()) files.push_back("-");
    if (check) return checkDigestLists(files, checking);

    int exitStatus = kExitOk;
    const char lineEnd = zero ? '\0' : '\n';
    for (const std::string& name : files) {
        errno = 0;
        std::optional<Md5Digest> digest = digestFile(name, checking.progress);
        if (!digest) {
            printError("md5: " + name + ": " + std::strerror(errno != 0 ? errno : EIO));
            exitStatus = kExitFailure;
            continue;
        }
        // With -z the line end cannot occur in a name, which is written as it is.
        auto [shown, escaped] = zero ? std::pair{name, false} : md5sumName(name);
        std::string line = escaped ? "\\" : "";
        line += tag ? "MD5 (" + shown + ") = " + v1::hexEncode(*digest)
                    : v1::hexEncode(*digest) + (binary ? " *" : "  ") + shown;
        writeText(line + lineEnd);
    }
    return exitStatus;
}

}  // namespace corvane::tool
