// Passphrases on the command line, spelled the same way by every command:
// --passin-* for the passphrase of what is read (an encrypted key file, a
// des3 ciphertext in the passphrase format, and the passphrase that makes
// one), --passout-* for the passphrase of what is written (a private key
// written out encrypted). Each comes in three forms: --PREFIX-file FILE
// (the file's first line), --PREFIX-env NAME (the variable's value) or
// --PREFIX-prompt (asked on the terminal, with echo off). A passphrase holds
// 1 to 1024 bytes. The spellings of earlier versions stay taken as hidden
// aliases (Options::alias).
#ifndef CORVANE_TOOL_PASSPHRASE_OPTIONS_H
#define CORVANE_TOOL_PASSPHRASE_OPTIONS_H

#include <optional>
#include <string>
#include <vector>

#include "tools/corvane/options/options.h"
#include "tools/corvane/secrets/secrets.h"

namespace corvane::tool {

// The old spellings of the three forms.
struct PassphraseAliases {
    std::vector<std::string> file, environment, prompt;
};

class PassphraseChoice {
public:
    // prefix: "--passin" or "--passout"; purpose says what the passphrase
    // is for, in the options' descriptions.
    PassphraseChoice(std::string prefix, std::string purpose, PassphraseAliases aliases = {})
        : prefix_(std::move(prefix)), purpose_(std::move(purpose)), aliases_(std::move(aliases)) {}

    void declare(Options& options);
    bool given() const { return file_ || environment_ || prompt_; }
    const std::optional<std::string>& file() const { return file_; }
    const std::optional<std::string>& environment() const { return environment_; }
    // "--passin-file, --passin-env or --passin-prompt", for messages.
    std::string names() const;
    // A usage error when more than one form was given.
    void refuseTwoForms(const Options& options) const;

    // The passphrase, or nullopt when no form was given. Two forms at once
    // are a usage error; an unreadable file, an unset variable, no
    // terminal, an empty or overlong passphrase are failures. The prompt
    // shows promptText and, with confirm, asks a second time.
    std::optional<SecretBytes> read(const Options& options, const std::string& promptText,
                                    bool confirm) const;

private:
    std::string prefix_;
    std::string purpose_;
    PassphraseAliases aliases_;
    std::optional<std::string> file_, environment_;
    bool prompt_ = false;
};

// The passphrase of an encrypted key file that a command reads, and
// --max-iterations N. Without --passin-file or --passin-env the passphrase
// is asked on the terminal, only once the key turns out to be encrypted, as
// --passin-prompt asks for.
struct PassphraseOptions {
    PassphraseChoice passin{"--passin",
                            "the passphrase of an encrypted key file",
                            {{"--passphrase-file"}, {"--passphrase-env"}, {}}};
    std::optional<std::string> maxIterations;

    void declare(Options& options);
    // The iteration limit for reading encrypted keys: --max-iterations, or
    // the library's default; a usage error for anything but 1 to 2147483647
    // (kMaxKeyIterationLimit, the most any key file can ask for).
    KeyReadOptions readOptions(const Options& options) const;
    // What the key readers ask for the passphrase; a usage error for two
    // forms at once. A file or variable is read here.
    PassphraseSource source(const Options& options) const;
};

}  // namespace corvane::tool

#endif
