// A passphrase the user gives to protect something (a des3 ciphertext, a
// private key written out), in one of three forms with a common prefix:
// --PREFIX-file FILE (the file's first line), --PREFIX-env NAME (the
// variable's value) or --PREFIX-prompt (asked on the terminal, with echo
// off). A passphrase holds 1 to 1024 bytes.
#ifndef CORVANE_TOOL_PASSPHRASE_OPTIONS_H
#define CORVANE_TOOL_PASSPHRASE_OPTIONS_H

#include <optional>
#include <string>

#include "options.h"
#include "secrets.h"

namespace corvane::tool {

class PassphraseChoice {
public:
    // prefix: "--pass" or "--pass-out"; purpose says what the passphrase
    // is for, in the options' descriptions.
    explicit PassphraseChoice(std::string prefix, std::string purpose = "the passphrase")
        : prefix_(std::move(prefix)), purpose_(std::move(purpose)) {}

    void declare(Options& options);
    bool given() const { return file_ || environment_ || prompt_; }
    // "--pass-file, --pass-env or --pass-prompt", for messages.
    std::string names() const;

    // The passphrase, or nullopt when no form was given. Two forms at once
    // are a usage error; an unreadable file, an unset variable, no
    // terminal, an empty or overlong passphrase are failures. The prompt
    // shows promptText and, with confirm, asks a second time.
    std::optional<SecretBytes> read(const Options& options, const std::string& promptText,
                                    bool confirm) const;

private:
    std::string prefix_;
    std::string purpose_;
    std::optional<std::string> file_, environment_;
    bool prompt_ = false;
};

}  // namespace corvane::tool

#endif
