// The actions of corvane rsa, split over two files: the block operations
// (rsa_command.cpp) and the key actions (rsa_key_command.cpp).
#ifndef CORVANE_TOOL_RSA_COMMANDS_H
#define CORVANE_TOOL_RSA_COMMANDS_H

#include <Corvane/keys.h>

#include <optional>
#include <string>

#include "commands.h"
#include "options.h"

namespace corvane::tool {

// The help text of corvane rsa.
extern const char kRsaHelp[];

// --passphrase-file FILE and --passphrase-env NAME and, for the commands
// that read keys, --max-iterations N.
struct PassphraseOptions {
    std::optional<std::string> file, environment, maxIterations;
    void declare(Options& options, bool readsKeys = true);
    // The iteration limit for reading encrypted keys: --max-iterations, or
    // the library's default; a usage error for anything but 1 to 4294967295.
    KeyReadOptions readOptions(const Options& options) const;
};

// corvane rsa key [--hex] FILE
int runRsaKey(const Args& args);
// corvane rsa keygen [--bits N] --out FILE [--force]
int runRsaKeygen(const Args& args);

}  // namespace corvane::tool

#endif
