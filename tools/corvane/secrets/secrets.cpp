#include "tools/corvane/secrets/secrets.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <Corvane/corvane.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/secure_zero.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
        wipe();
        bytes_ = std::move(other.bytes_);
        other.bytes_.clear();
    }
    return *this;
}

void SecretBytes::wipe() noexcept { secure_zero(bytes_.data(), bytes_.capacity()); }

SecretBytes readSecretFile(const std::string& path, std::size_t limit, const std::string& what) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) failure(what + " " + path + ": " + std::strerror(errno != 0 ? errno : EIO));
    std::setvbuf(file, nullptr, _IONBF, 0);
    // One more byte than allowed tells an overlong file apart; the buffer is
    // never reallocated, so no copy is left behind.
    Bytes buffer(limit + 1);
    std::size_t length = 0;
    while (length < buffer.size()) {
        std::size_t n = std::fread(buffer.data() + length, 1, buffer.size() - length, file);
        if (n == 0) break;
        length += n;
    }
    bool failed = std::ferror(file) != 0;
    int cause = errno;
    std::fclose(file);
    SecretBytes secret(std::move(buffer));
    if (failed) failure(what + " " + path + ": " + std::strerror(cause != 0 ? cause : EIO));
    if (length > limit)
        failure(what + " " + path + " holds more than " + std::to_string(limit) + " bytes; it cannot be one");
    Bytes exact(secret.bytes().begin(), secret.bytes().begin() + static_cast<std::ptrdiff_t>(length));
    return SecretBytes(std::move(exact));
}

SecretBytes secretFromEnvironment(const std::string& name, const std::string& what) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) failure("the environment variable " + name + " is not set; it was to hold " + what);
    return SecretBytes(Bytes(value, value + std::strlen(value)));
}

std::optional<SecretBytes> secretFromHexDigits(std::string_view text, std::string& problem,
                                               std::size_t offset) {
    std::error_code error;
    // The codec wipes what it decoded before it fails.
    Bytes bytes = v1::hexDecode(text, v1::HexWhitespace::reject, error);
    if (!error) return SecretBytes(std::move(bytes));
    auto bad = std::find_if(text.begin(), text.end(),
                            [](char c) { return !std::isxdigit(static_cast<unsigned char>(c)); });
    if (bad != text.end())
        problem = "holds a character that is not a hexadecimal digit at offset " +
                  std::to_string(offset + static_cast<std::size_t>(bad - text.begin()));
    else
        problem = "does not hold an even number of hexadecimal digits (it holds " +
                  std::to_string(text.size()) + ")";
    return std::nullopt;
}

std::optional<SecretBytes> secretFromHex(std::span<const std::uint8_t> text, std::string* problem) {
    auto isSpace = [](std::uint8_t c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    auto first = std::find_if_not(text.begin(), text.end(), isSpace);
    auto last = std::find_if_not(text.rbegin(), std::make_reverse_iterator(first), isSpace).base();
    std::string digits(first, last);
    std::string why;
    std::optional<SecretBytes> secret =
        secretFromHexDigits(digits, why, static_cast<std::size_t>(first - text.begin()));
    secure_zero(digits.data(), digits.size());
    if (!secret && problem != nullptr) *problem = why;
    return secret;
}

namespace {

// The first line of the text: up to the first line feed, less a carriage
// return before it, as passphrase files are usually written.
SecretBytes firstLine(const SecretBytes& text) {
    const Bytes& bytes = text.bytes();
    auto end = std::find(bytes.begin(), bytes.end(), '\n');
    if (end != bytes.begin() && end != bytes.end() && *(end - 1) == '\r') --end;
    return SecretBytes(Bytes(bytes.begin(), end));
}

// Asks for the passphrase on the controlling terminal with echo off and
// keeps what fits the buffer. Returns the length typed, which may exceed the
// buffer's; nullopt when there is no terminal.
std::optional<std::size_t> promptOnTerminal(const std::string& prompt, std::span<char> buffer) {
    int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) return std::nullopt;
    // Echo goes off before the prompt is shown: whatever is typed once the
    // prompt is visible is the passphrase, and must neither be echoed nor be
    // discarded by the change of mode (only what was typed earlier is).
    termios saved{};
    bool restore = ::tcgetattr(tty, &saved) == 0;
    if (restore) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    (void)!::write(tty, prompt.data(), prompt.size());
    std::size_t length = 0;
    bool lineEnded = false;
    char c = 0;
    while (!lineEnded && ::read(tty, &c, 1) == 1) {
        if (c == '\n' || c == '\r')
            lineEnded = true;
        else if (length++ < buffer.size())
            buffer[length - 1] = c;
    }
    c = 0;
    if (restore) ::tcsetattr(tty, TCSANOW, &saved);
    (void)!::write(tty, "\n", 1);
    ::close(tty);
    return length;
}

}  // namespace

PassphraseSource::PassphraseSource(const std::optional<std::string>& file,
                                   const std::optional<std::string>& environment,
                                   const KeyReadOptions& readOptions)
    : readOptions_(readOptions) {
    if (file) {
        text_ = firstLine(readSecretFile(*file, kSecretFileLimit, "passphrase file"));
        given_ = true;
    } else if (environment) {
        text_ = secretFromEnvironment(*environment, "the passphrase");
        given_ = true;
    }
}

KeyPassphrase PassphraseSource::forKey(const std::string& keyPath) const {
    if (given_)
        return KeyPassphrase(
            std::string_view(reinterpret_cast<const char*>(text_.bytes().data()), text_.size()));
    // A passphrase longer than the buffer would be cut short: it is declined
    // (the reader refuses the key) and its length kept for the message.
    return KeyPassphrase([this, keyPath](std::span<char> buffer) -> std::size_t {
        typedLength_ = promptOnTerminal("Passphrase for " + keyPath + ": ", buffer);
        if (!typedLength_ || *typedLength_ > buffer.size()) {
            secure_zero(buffer.data(), buffer.size());
            return 0;
        }
        return *typedLength_;
    });
}

SecretBytes promptForPassphrase(const std::string& prompt, bool confirm) {
    // One byte more than the limit tells an overlong answer apart.
    auto ask = [](const std::string& text) {
        Bytes buffer(kPassphraseLimit + 1);
        std::optional<std::size_t> length =
            promptOnTerminal(text, std::span<char>(reinterpret_cast<char*>(buffer.data()), buffer.size()));
        SecretBytes answer(std::move(buffer));
        if (!length) failure("no terminal to ask the passphrase on");
        refuseUnusablePassphrase(*length);
        return SecretBytes(
            Bytes(answer.bytes().begin(), answer.bytes().begin() + static_cast<std::ptrdiff_t>(*length)));
    };
    SecretBytes first = ask(prompt);
    if (confirm) {
        SecretBytes second = ask("Again, to confirm: ");
        if (first.bytes() != second.bytes()) failure("the two passphrases typed differ");
    }
    return first;
}

SecretBytes firstLineOfFile(const std::string& path) {
    return firstLine(readSecretFile(path, kSecretFileLimit, "passphrase file"));
}

std::optional<std::size_t> PassphraseSource::offeredLength() const {
    if (given_) return text_.size();
    return typedLength_;
}

void refuseUnusablePassphrase(std::size_t length) {
    if (length == 0) failure("the passphrase is empty");
    if (length > kPassphraseLimit)
        failure("the passphrase is longer than " + std::to_string(kPassphraseLimit) + " bytes");
}

}  // namespace corvane::tool
