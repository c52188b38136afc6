// Secrets that do not appear on the command line: triple-DES keys and IVs
// from a file or an environment variable, and the passphrase of an
// encrypted private key from a file, an environment variable or a prompt on
// the terminal. Everything read is held in buffers wiped when they go
// (memory_protection.h says what else is done); files are read with a size
// limit, unbuffered, so that no stdio buffer keeps a copy.
#ifndef CORVANE_TOOL_SECRETS_H
#define CORVANE_TOOL_SECRETS_H

#include <Corvane/keys.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tools/corvane/io/io.h"

namespace corvane::tool {

// Bytes wiped when they go (moved-from objects are left empty).
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(Bytes bytes) : bytes_(std::move(bytes)) {}
    ~SecretBytes() { wipe(); }
    SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) { other.bytes_.clear(); }
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;

    const Bytes& bytes() const { return bytes_; }
    std::span<const std::uint8_t> span() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }

private:
    void wipe() noexcept;
    Bytes bytes_;
};

// The bytes of the file at path, exactly; a failure (exit status 1) naming
// the file when it cannot be read or holds more than limit bytes. what
// names the secret in that message ("key file").
SecretBytes readSecretFile(const std::string& path, std::size_t limit, const std::string& what);

// The value of the environment variable name; a failure when it is not set.
SecretBytes secretFromEnvironment(const std::string& name, const std::string& what);

// The bytes of hexadecimal text, ignoring whitespace around it (a file
// written by `openssl rand -hex 24` ends in a line feed); nullopt when what
// is left is not an even number of hexadecimal digits, with problem (when
// given) saying why as secretFromHexDigits does.
std::optional<SecretBytes> secretFromHex(std::span<const std::uint8_t> text, std::string* problem = nullptr);

// The bytes of text that is hexadecimal digits alone; nullopt when it is
// not, with problem saying why, for a message that names the text first:
// "holds a character that is not a hexadecimal digit at offset N" (offset
// counts from the text's start plus the given offset) or "does not hold an
// even number of hexadecimal digits (it holds N)".
std::optional<SecretBytes> secretFromHexDigits(std::string_view text, std::string& problem,
                                               std::size_t offset = 0);

// The passphrase of the key files that commands read: --passin-file FILE
// (its first line) or --passin-env NAME (see passphrase_options.h). With
// neither, the passphrase is asked on the terminal, and only when a key
// turns out to be encrypted; with no terminal the key is refused.
class PassphraseSource {
public:
    // readOptions: the limit on an encrypted key's iteration count.
    PassphraseSource(const std::optional<std::string>& file, const std::optional<std::string>& environment,
                     const KeyReadOptions& readOptions = {});
    PassphraseSource(const PassphraseSource&) = delete;
    PassphraseSource& operator=(const PassphraseSource&) = delete;

    // Whether a file or a variable gave the passphrase, and its text.
    bool given() const { return given_; }
    std::string_view text() const {
        return std::string_view(reinterpret_cast<const char*>(text_.bytes().data()), text_.size());
    }
    // The reader's view of the passphrase for the key file at keyPath (named
    // in the prompt); valid while this object lives.
    KeyPassphrase forKey(const std::string& keyPath) const;
    const KeyReadOptions& readOptions() const { return readOptions_; }

    // The length of the passphrase offered for the key: given, or typed at
    // the prompt (also when longer than the reader takes); nullopt when none
    // was (no option and no terminal).
    std::optional<std::size_t> offeredLength() const;

private:
    bool given_ = false;
    SecretBytes text_;
    KeyReadOptions readOptions_;
    // What the prompt was answered with, if it was shown.
    mutable std::optional<std::size_t> typedLength_;
};

// The key readers take passphrases of 1 to this many bytes.
inline constexpr std::size_t kPassphraseLimit = 1024;

// Refuses (exit status 1) a passphrase of this length that the key readers
// and writers cannot take: "the passphrase is empty", "the passphrase is
// longer than 1024 bytes".
void refuseUnusablePassphrase(std::size_t length);

// Asks for a passphrase on the controlling terminal with echo off, showing
// prompt; with confirm, asks again and refuses two answers that differ.
// Failures (exit status 1): no terminal, an empty or overlong answer.
SecretBytes promptForPassphrase(const std::string& prompt, bool confirm);

// The first line of the file (without its line end), as passphrase files
// are read; failures name the file.
SecretBytes firstLineOfFile(const std::string& path);

// The size limit of key, IV and passphrase files.
inline constexpr std::size_t kSecretFileLimit = 4096;

}  // namespace corvane::tool

#endif
