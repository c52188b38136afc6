#include "tools/corvane/options/passphrase_options.h"

namespace corvane::tool {

void PassphraseChoice::declare(Options& options) {
    options.value({prefix_ + "-file"}, file_, {purpose_ + ": the first line of FILE", "FILE"})
        .alias(aliases_.file)
        .value({prefix_ + "-env"}, environment_, {purpose_ + ": the environment variable's value", "NAME"})
        .alias(aliases_.environment)
        .flag({prefix_ + "-prompt"}, prompt_, purpose_ + ": asked on the terminal, without echo")
        .alias(aliases_.prompt);
}

std::string PassphraseChoice::names() const {
    return prefix_ + "-file, " + prefix_ + "-env or " + prefix_ + "-prompt";
}

void PassphraseChoice::refuseTwoForms(const Options& options) const {
    if (!!file_ + !!environment_ + prompt_ > 1) options.fail("give one of " + names() + ", not more");
}

std::optional<SecretBytes> PassphraseChoice::read(const Options& options, const std::string& promptText,
                                                  bool confirm) const {
    refuseTwoForms(options);
    if (prompt_) return promptForPassphrase(promptText, confirm);
    if (!file_ && !environment_) return std::nullopt;
    SecretBytes passphrase =
        file_ ? firstLineOfFile(*file_) : secretFromEnvironment(*environment_, "the passphrase");
    refuseUnusablePassphrase(passphrase.size());
    return passphrase;
}

void PassphraseOptions::declare(Options& options) {
    passin.declare(options);
    options.value("--max-iterations", maxIterations,
                  {"refuse an encrypted key whose passphrase derivation runs more than N iterations, before "
                   "asking for the passphrase (default " +
                       std::to_string(kDefaultMaxKeyIterations) + ")",
                   "N"});
}

KeyReadOptions PassphraseOptions::readOptions(const Options& options) const {
    KeyReadOptions read;
    read.maxIterations = static_cast<std::uint32_t>(
        options.count(maxIterations, "--max-iterations", 1, kMaxKeyIterationLimit, kDefaultMaxKeyIterations));
    return read;
}

PassphraseSource PassphraseOptions::source(const Options& options) const {
    passin.refuseTwoForms(options);
    return PassphraseSource(passin.file(), passin.environment(), readOptions(options));
}

}  // namespace corvane::tool
