// corvane: the command-line face of the library.
#include <Corvane/Foundation.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <string>

#include "commands.h"
#include "io.h"
#include "tool_error.h"

namespace {

using corvane::tool::Args;

struct Command {
    int (*run)(const Args&);
    const char* summary;
};

const std::map<std::string, Command>& commands() {
    static const std::map<std::string, Command> table = {
        {"demo", {corvane::tool::runDemo, "the typical request end to end on a demonstration key"}},
        {"md5", {corvane::tool::runMd5, "MD5 digests of files, md5sum format"}},
        {"base64", {corvane::tool::runBase64, "Base64 encoding and decoding, standard or web-safe"}},
        {"rsa", {corvane::tool::runRsa, "RSA PKCS #1 v1.5 encryption and decryption"}},
        {"des3", {corvane::tool::runDes3, "triple-DES CBC encryption, decryption and key making"}},
        {"version", {corvane::tool::runVersion, "the library's version"}},
    };
    return table;
}

void usage(std::FILE* out) {
    std::fprintf(out, "usage: corvane <command> [arguments]\n\ncommands:\n");
    for (const auto& [name, command] : commands()) std::fprintf(out, "  %-8s %s\n", name.c_str(), command.summary);
    std::fprintf(out,
                 "\nEach command takes --help. Exit status: 0 success, 1 a cryptographic or\n"
                 "I/O failure, 2 a usage error.\n");
}

// Standard output is flushed here so that a failed write (a full disk, a
// closed pipe) turns into a failure status instead of passing unnoticed.
int finish(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        corvane::tool::printError(std::string("write error: ") + std::strerror(errno));
        return corvane::tool::kExitFailure;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        usage(stderr);
        return corvane::tool::kExitUsage;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        usage(stdout);
        return finish(corvane::tool::kExitOk);
    }
    auto it = commands().find(name);
    if (it == commands().end()) {
        corvane::tool::printError("unknown command " + name + " (see corvane --help)");
        return corvane::tool::kExitUsage;
    }
    // The tool reports every failure itself, in one line; the classes' own
    // log lines would only repeat it behind a timestamp.
    corvane::NSLogSetSink([](const std::string&) {});
    try {
        return finish(it->second.run(Args(argv + 2, argv + argc)));
    } catch (const corvane::tool::ToolError& e) {
        corvane::tool::printError(name + ": " + e.what());
        return e.status() == corvane::tool::kExitUsage ? e.status() : finish(e.status());
    } catch (const std::bad_alloc&) {
        corvane::tool::printError(name + ": out of memory");
        return corvane::tool::kExitFailure;
    }
}
