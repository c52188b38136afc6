#include "command_table.h"

#include "options.h"

namespace corvane::tool {

std::span<const ToolCommand> toolCommands() {
    static const ToolCommand table[] = {
        {"base64", runBase64, "Base64 encoding and decoding, standard or web-safe"},
        {"demo", runDemo, "the typical request end to end on a demonstration key"},
        {"des3", runDes3, "triple-DES CBC encryption, decryption and key making"},
        {"md5", runMd5, "MD5 digests of files, md5sum format"},
        {"rsa", runRsa, "RSA PKCS #1 v1.5 encryption and decryption"},
        {"version", runVersion, "the library's version"},
    };
    return table;
}

void addTopLevelOptions(CLI::App& app, bool& help, bool& version) {
    app.set_help_flag();
    app.add_flag("-h,--help", help, "this text");
    app.add_flag("--version", version, "the tool's version and the library's");
}

std::unique_ptr<CLI::App> optionTree() {
    auto tree = std::make_unique<CLI::App>("", "corvane");
    // The flags' targets: the tree is only read, never parsed.
    static bool help = false, version = false;
    addTopLevelOptions(*tree, help, version);
    Options::describeInto(tree.get());
    for (const ToolCommand& command : toolCommands()) {
        describedCommand(*tree, command.name);
        command.run({});
    }
    Options::describeInto(nullptr);
    return tree;
}

}  // namespace corvane::tool
