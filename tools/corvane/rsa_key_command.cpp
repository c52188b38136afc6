// corvane rsa key and rsa keygen: a key's public half as PEM or as the
// hexadecimal texts QVSimpleRSA takes, and new key pairs from OpenSSL's
// generator written through the library's key writers.
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <charconv>
#include <cstring>
#include <string>
#include <utility>

#include "../../platform/secure_zero.h"
#include "io.h"
#include "rsa_commands.h"
#include "rsa_keys.h"
#include "tool_error.h"

namespace corvane::tool {

namespace {

constexpr unsigned kSmallestBits = 512;
constexpr unsigned kDefaultBits = 1024;

// A string that held a private key; wiped when done.
struct WipedText {
    std::string text;
    ~WipedText() { secure_zero(text.data(), text.size()); }
};

unsigned keyBits(const Options& options, const std::optional<std::string>& text) {
    if (!text) return kDefaultBits;
    unsigned bits = 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), bits);
    if (text->empty() || ec != std::errc() || end != text->data() + text->size() || bits < kSmallestBits ||
        bits > MAX_RSA_MODULUS_BITS)
        options.fail("--bits takes " + std::to_string(kSmallestBits) + " to " +
                     std::to_string(MAX_RSA_MODULUS_BITS));
    return bits;
}

// A new key from OpenSSL, read into the record by the library's reader so
// that it is checked, and ordered, as every key the tool reads.
void generateKey(unsigned bits, R_RSA_PRIVATE_KEY& key) {
    EVP_PKEY* generated = EVP_RSA_gen(bits);
    if (generated == nullptr) failure("key generation failed (OpenSSL's generator refused)");
    unsigned char* der = nullptr;
    int length = i2d_PrivateKey(generated, &der);
    EVP_PKEY_free(generated);
    if (length <= 0) failure("key generation failed (the key could not be encoded)");
    KeyStatus status =
        corvane::loadRsaPrivateKey(std::span<const std::uint8_t>(der, static_cast<std::size_t>(length)), key);
    OPENSSL_clear_free(der, static_cast<std::size_t>(length));
    if (!status) failure("key generation failed: " + status.error.message());
}

void writeAllTo(int fd, const std::string& text, const std::string& path) {
    std::size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) failure(path + ": " + std::strerror(n < 0 ? errno : EIO));
        written += static_cast<std::size_t>(n);
    }
}

// A file being written beside its final place; removed unless committed.
class PendingKeyFile {
public:
    // Creates "<path>.XXXXXX" with O_CREAT|O_EXCL and mode 0600.
    explicit PendingKeyFile(const std::string& path) : path_(path), temporary_(path + ".XXXXXX") {
        fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
        if (fd_ < 0) failure(path + ": " + std::strerror(errno));
    }
    ~PendingKeyFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_) ::unlink(temporary_.c_str());
    }
    PendingKeyFile(const PendingKeyFile&) = delete;
    PendingKeyFile& operator=(const PendingKeyFile&) = delete;

    // Writes the text, flushes it to the disk and closes the file.
    void writeAll(const std::string& text) {
        // The umask may have narrowed the mode; the file is the owner's alone either way.
        if (::fchmod(fd_, S_IRUSR | S_IWUSR) != 0) fail();
        writeAllTo(fd_, text, path_);
        if (::fsync(fd_) != 0) fail();
        int fd = std::exchange(fd_, -1);
        if (::close(fd) != 0) fail();
    }

    // Moves the file into place: over an existing one with replace, else
    // only where no file is (one that appeared since the start is kept).
    void commit(bool replace) {
        if (replace) {
            if (::rename(temporary_.c_str(), path_.c_str()) != 0) fail();
        } else if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE) !=
                   0) {
            // File systems without the no-replace rename: a hard link, which
            // never replaces either.
            if (errno != EINVAL && errno != ENOSYS) failOnPlace();
            if (::link(temporary_.c_str(), path_.c_str()) != 0) failOnPlace();
            ::unlink(temporary_.c_str());
        }
        committed_ = true;
    }

private:
    [[noreturn]] void fail() const { failure(path_ + ": " + std::strerror(errno)); }
    [[noreturn]] void failOnPlace() const {
        if (errno == EEXIST) failure(path_ + " exists; give --force to replace it");
        fail();
    }

    std::string path_;
    std::string temporary_;
    int fd_ = -1;
    bool committed_ = false;
};

}  // namespace

int runRsaKey(const Args& args) {
    bool hex = false;
    PassphraseOptions passphraseOptions;
    Options options("rsa key", kRsaHelp);
    options.flag({"--hex"}, hex);
    passphraseOptions.declare(options);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(1);
    if (options.positional().empty()) options.fail("a key file is needed: corvane rsa key [--hex] FILE");
    const std::string& path = options.positional().front();

    R_RSA_PUBLIC_KEY key;
    PassphraseSource passphrase(passphraseOptions.file, passphraseOptions.environment);
    loadRsaPublicKey(path, key, passphrase);
    if (hex) {
        RsaHexKey texts;
        if (std::error_code error = rsaPublicKeyToHex(key, texts))
            failure(inputName(path) + ": " + error.message());
        writeText("modulus=" + texts.modulus + "\nexponent=" + texts.exponent + "\n");
    } else {
        std::string pem;
        if (std::error_code error = rsaPublicKeyToPem(key, pem))
            failure(inputName(path) + ": " + error.message());
        writeText(pem);
    }
    return kExitOk;
}

int runRsaKeygen(const Args& args) {
    std::optional<std::string> bitsText, out;
    bool force = false;
    PassphraseOptions passphraseOptions;
    Options options("rsa keygen", kRsaHelp);
    options.value("--bits", bitsText).value("--out", out).flag({"--force"}, force);
    passphraseOptions.declare(options);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(0);
    unsigned bits = keyBits(options, bitsText);
    if (!out)
        options.fail("the private key needs a file: --out FILE (it is never written to standard output)");
    if (*out == "-") options.fail("--out needs a file; the private key is never written to standard output");
    // Only a file or a variable encrypts the new key: a prompt would need
    // the passphrase typed twice, and an unencrypted key is the default.
    PassphraseSource passphrase(passphraseOptions.file, passphraseOptions.environment);
    if (passphrase.given()) refuseUnusablePassphrase(passphrase.text().size());
    // Refused before the work of making a key; checked again when the file
    // takes its name.
    struct stat existing {};
    if (!force && ::lstat(out->c_str(), &existing) == 0) failure(*out + " exists; give --force to replace it");

    struct WipedKey {
        R_RSA_PRIVATE_KEY record;
        ~WipedKey() { secure_zero_object(record); }
    } key;
    generateKey(bits, key.record);
    WipedText privatePem;
    if (std::error_code error =
            rsaPrivateKeyToPem(key.record, privatePem.text, RsaKeyFormat::standard,
                               passphrase.given() ? passphrase.text() : std::string_view()))
        failure("the new key could not be written: " + error.message());
    R_RSA_PUBLIC_KEY publicKey{};
    publicKey.bits = key.record.bits;
    std::memcpy(publicKey.modulus, key.record.modulus, sizeof publicKey.modulus);
    std::memcpy(publicKey.exponent, key.record.publicExponent, sizeof publicKey.exponent);
    std::string publicPem;
    if (std::error_code error = rsaPublicKeyToPem(publicKey, publicPem))
        failure("the new key could not be written: " + error.message());

    // The key file takes its name only when everything else has worked: the
    // private key is on the disk and the public key has reached standard
    // output. A failure before leaves nothing behind.
    PendingKeyFile file(*out);
    file.writeAll(privatePem.text);
    writeText(publicPem);
    flushOutput();
    file.commit(force);
    return kExitOk;
}

}  // namespace corvane::tool
