#include "passphrase_options.h"

namespace corvane::tool {

void PassphraseChoice::declare(Options& options) {
    options.value({prefix_ + "-file"}, file_, {purpose_ + ": the first line of FILE", "FILE"})
        .value({prefix_ + "-env"}, environment_, {purpose_ + ": the environment variable's value", "NAME"})
        .flag({prefix_ + "-prompt"}, prompt_, purpose_ + ": asked on the terminal, without echo");
}

std::string PassphraseChoice::names() const {
    return prefix_ + "-file, " + prefix_ + "-env or " + prefix_ + "-prompt";
}

std::optional<SecretBytes> PassphraseChoice::read(const Options& options, const std::string& promptText,
                                                  bool confirm) const {
    if (!!file_ + !!environment_ + prompt_ > 1) options.fail("give one of " + names() + ", not more");
    if (prompt_) return promptForPassphrase(promptText, confirm);
    if (!file_ && !environment_) return std::nullopt;
    SecretBytes passphrase =
        file_ ? firstLineOfFile(*file_) : secretFromEnvironment(*environment_, "the passphrase");
    refuseUnusablePassphrase(passphrase.size());
    return passphrase;
}

}  // namespace corvane::tool
