// The actions of corvane rsa, split over two files: the block operations
// (rsa_command.cpp) and the key actions (rsa_key_command.cpp).
#ifndef CORVANE_TOOL_RSA_COMMANDS_H
#define CORVANE_TOOL_RSA_COMMANDS_H

#include <Corvane/keys.h>

#include <optional>
#include <string>

#include "tools/corvane/commands/commands.h"
#include "tools/corvane/options/options.h"
#include "tools/corvane/options/passphrase_options.h"

namespace corvane::tool {

// The help text of corvane rsa.
extern const char kRsaHelp[];

// corvane rsa key [--hex] FILE
int runRsaKey(const Args& args);
// corvane rsa keygen [--bits N] --out FILE [--force]
int runRsaKeygen(const Args& args);

}  // namespace corvane::tool

#endif
