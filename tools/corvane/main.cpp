// corvane: the command-line face of the library.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "commands.h"
#include "io.h"

namespace {

using corvane::tool::Args;

struct Command {
    int (*run)(const Args&);
    const char* summary;
};

const std::map<std::string, Command>& commands() {
    static const std::map<std::string, Command> table = {
        {"md5", {corvane::tool::runMd5, "MD5 digests of files, md5sum format"}},
    };
    return table;
}

void usage(std::FILE* out) {
    std::fprintf(out, "usage: corvane <command> [arguments]\n\ncommands:\n");
    for (const auto& [name, command] : commands()) std::fprintf(out, "  %-8s %s\n", name.c_str(), command.summary);
    std::fprintf(out, "\nEach command takes --help.\n");
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
        return corvane::tool::kExitOk;
    }
    auto it = commands().find(name);
    if (it == commands().end()) {
        corvane::tool::printError("unknown command " + name + " (see corvane --help)");
        return corvane::tool::kExitUsage;
    }
    return it->second.run(Args(argv + 2, argv + argc));
}
