#include "tools/corvane/commands/command_table.h"

namespace corvane::tool {

std::span<const ToolCommand> toolCommands() {
    static const ToolCommand table[] = {
        {"base64", runBase64, "Base64 encoding and decoding, standard or web-safe"},
        {"demo", runDemo, "the typical request end to end on a demonstration key"},
        {"des3", runDes3, "triple-DES CBC encryption, decryption and key making"},
        {"envelope", runEnvelope, "open and seal RSA-wrapped triple-DES messages"},
        {"md5", runMd5, "MD5 digests of files, md5sum format"},
        {"rsa", runRsa, "RSA PKCS #1 v1.5 encryption and decryption"},
        {"version", runVersion, "the library's version"},
    };
    return table;
}

}  // namespace corvane::tool
