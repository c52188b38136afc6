// corvane des3 encrypt | decrypt with a passphrase instead of a key: the
// salted format of `openssl enc -des-ede3-cbc -pbkdf2` (the library's
// des3KeyFromPassphrase and "Salted__" header), streamed as the key form is.
#ifndef CORVANE_TOOL_DES3_PASSPHRASE_H
#define CORVANE_TOOL_DES3_PASSPHRASE_H

#include <optional>
#include <string>

#include "tools/corvane/options/options.h"
#include "tools/corvane/options/passphrase_options.h"

namespace corvane::tool {

// --passin-file FILE | --passin-env NAME | --passin-prompt, --iter N,
// --md NAME.
struct Des3PassphraseOptions {
    PassphraseChoice passphrase{"--passin", "the passphrase", {{"--pass-file"}, {"--pass-env"}, {"--pass-prompt"}}};
    std::optional<std::string> iterations, digest;

    void declare(Options& options) {
        passphrase.declare(options);
        options.value("--iter", iterations, {"PBKDF2's iteration count (default 10000)", "N"})
            .value("--md", digest,
                   {"PBKDF2's digest (default sha256; sha1, sha512, md5, ...)", "DIGEST",
                    {"sha256", "sha1", "sha512", "md5"}});
    }
    bool given() const { return passphrase.given() || iterations || digest; }
};

// Runs the cipher: encryption writes the header, a new random salt, and the
// ciphertext (Base64 on one line, or bytes with raw); decryption reads them
// back. The same exit statuses as with a key; input that does not start
// with the header fails. output is -o's FILE, for the terminal check.
int runDes3WithPassphrase(const Options& options, const Des3PassphraseOptions& settings, bool encrypt,
                          bool raw, bool progress, const std::optional<std::string>& output);

}  // namespace corvane::tool

#endif
