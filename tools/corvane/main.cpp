// corvane: the command-line face of the library.
#include <Corvane/Foundation.h>
#include <Corvane/modern/scrub.hpp>

#include <algorithm>
#include <csignal>
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include "tools/corvane/commands/command_table.h"
#include "tools/corvane/commands/commands.h"
#include "tools/corvane/io/io.h"
#include "tools/corvane/io/standard_streams.h"
#include "tools/corvane/options/option_list.h"
#include "tools/corvane/options/suggestions.h"
#include "tools/corvane/secrets/memory_protection.h"
#include "tools/corvane/tool_error.h"

namespace {

using corvane::tool::Args;

void usage(std::FILE* out) {
    std::fprintf(out, "usage: corvane <command> [arguments]\n\ncommands:\n");
    for (const auto& command : corvane::tool::toolCommands())
        std::fprintf(out, "  %-8s %s\n", command.name, command.summary);
    // The top-level options, as the manual page lists them.
    CLI::App top;
    bool help = false, version = false;
    corvane::tool::addTopLevelOptions(top, help, version);
    std::fprintf(out, "\n%s", corvane::tool::optionList(corvane::tool::optionDocs(top)).c_str());
    std::fprintf(out,
                 "\nrsa and des3 wipe every key, passphrase and decrypted message from memory\n"
                 "before it is freed (libcrypto's memory included) and run with core dumps\n"
                 "and debugger attachment off; SECRETS IN MEMORY in corvane(1) says what is\n"
                 "not covered.\n"
                 "\nEach command takes --help; `man corvane` describes them all. Exit status:\n"
                 "0 success, 1 a cryptographic or I/O failure, 2 a usage error.\n");
}

// Standard output is flushed here so that a failed write (a full disk, a
// closed pipe) turns into a failure status instead of passing unnoticed.
int finish(const std::string& prefix, int status) {
    try {
        corvane::tool::flushOutput();
        return status;
    } catch (const corvane::tool::ToolError& e) {
        corvane::tool::printError(prefix + e.what());
        return e.status();
    }
}

// The words before the command: --help, -h and --version, read with CLI11.
// Usage errors are thrown as ToolError.
struct TopLevel {
    bool help = false;
    bool version = false;
    std::vector<std::string> rest;
};

TopLevel readTopLevel(int argc, char** argv) {
    TopLevel top;
    CLI::App app("corvane", "corvane");
    corvane::tool::addTopLevelOptions(app, top.help, top.version);
    // Everything from the first word that is not an option on belongs to
    // the command.
    app.prefix_command();
    app.allow_extras(true);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        corvane::tool::usageError(std::string(e.what()) + " (see corvane --help)");
    }
    top.rest = app.remaining();
    return top;
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything can reach libcrypto: its blocks are wiped when freed.
    const bool cryptoBlocksWiped = corvane::tool::installWipingCryptoAllocator();
    // Before any read or write: the standard streams' buffers may hold a key
    // read from standard input or a decrypted message written out, and are
    // wiped when main returns, whatever it returns; so are the stack below
    // main and the vector registers, through which the commands moved keys
    // and results.
    corvane::tool::useWipedStandardBuffers();
    struct WipeBuffersOnReturn {
        ~WipeBuffersOnReturn() {
            corvane::tool::wipeStandardBuffers();
            corvane::v1::scrubStackAndRegisters();
        }
    } wipeBuffers;
    // A file size limit (ulimit -f) makes a write fail with EFBIG, reported
    // and cleaned up like any write error, instead of killing the process
    // half way through a file.
    std::signal(SIGXFSZ, SIG_IGN);
    // A standard stream that was closed is held by /dev/null (that cannot be
    // written), so that no file the tool opens takes its number and
    // receives what was meant for the stream.
    corvane::tool::occupyClosedStandardStreams();
    // A reader that goes away (corvane ... | head) makes the next write fail
    // with EPIPE, reported like any write error, instead of ending the
    // process by signal with nothing said.
    std::signal(SIGPIPE, SIG_IGN);
    std::string name;
    corvane::tool::Args commandArgs;
    try {
        TopLevel top = readTopLevel(argc, argv);
        if (top.help) {
            usage(stdout);
            return finish("", corvane::tool::kExitOk);
        }
        if (top.version) return finish("version: ", corvane::tool::runToolVersion());
        if (top.rest.empty()) {
            usage(stderr);
            return corvane::tool::kExitUsage;
        }
        name = top.rest.front();
        commandArgs.assign(top.rest.begin() + 1, top.rest.end());
    } catch (const corvane::tool::ToolError& e) {
        corvane::tool::printError(e.what());
        return e.status();
    }
    if (name == "help") {
        usage(stdout);
        return finish("", corvane::tool::kExitOk);
    }
    if (name.size() > 1 && name[0] == '-') {
        corvane::tool::printError("unknown option " + name +
                                  corvane::tool::didYouMean(name, {"-h", "--help", "--version"}) +
                                  " (see corvane --help)");
        return corvane::tool::kExitUsage;
    }
    auto commands = corvane::tool::toolCommands();
    auto it = std::find_if(commands.begin(), commands.end(), [&](const auto& c) { return name == c.name; });
    if (it == commands.end()) {
        std::vector<std::string> names = {"help"};
        for (const auto& command : commands) names.push_back(command.name);
        corvane::tool::printError("unknown command " + name + corvane::tool::didYouMean(name, names) +
                                  " (see corvane --help)");
        return corvane::tool::kExitUsage;
    }
    // The tool reports every failure itself, in one line; the classes' own
    // log lines would only repeat it behind a timestamp.
    corvane::NSLogSetSink([](const std::string&) {});
    try {
        if (name == "rsa" || name == "des3" || name == "envelope") {
            // These commands may read private keys, passphrases or
            // triple-DES keys: the process starts again with every library
            // bound (memory_protection.h), before anything is read.
            corvane::tool::bindEveryLibraryAtLoad(argv);
            if (!cryptoBlocksWiped) corvane::tool::failure("cannot make libcrypto wipe its memory");
            corvane::tool::protectSecretsFromDumps();
        }
        return finish(name + ": ", it->run(commandArgs));
    } catch (const corvane::tool::ToolError& e) {
        // One message per run: the first failure. Output written before it
        // is still flushed; a write error found then is not reported again.
        corvane::tool::printError(name + ": " + e.what());
        if (e.status() != corvane::tool::kExitUsage) {
            try {
                corvane::tool::flushOutput();
            } catch (const corvane::tool::ToolError&) {
            }
        }
        return e.status();
    } catch (const std::bad_alloc&) {
        corvane::tool::printError(name + ": out of memory");
        return corvane::tool::kExitFailure;
    }
}
