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
#include <charconv>
#include <cstring>
#include <string>

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

// Writes the private key's PEM to a new file of mode 0600. An existing file
// is kept unless force is set; then the key goes to a temporary file beside
// it, renamed over it once complete, so that no reader ever sees half a key.
void writePrivateKeyFile(const std::string& path, const std::string& pem, bool force) {
    std::string target = path;
    int fd = -1;
    if (force) {
        target = path + ".XXXXXX";
        fd = ::mkstemp(target.data());
    } else {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) failure(path + " exists; give --force to replace it");
    }
    if (fd < 0) failure(path + ": " + std::strerror(errno));
    try {
        // The umask may have narrowed the mode; the file is the owner's alone either way.
        if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0) failure(path + ": " + std::strerror(errno));
        writeAllTo(fd, pem, path);
        if (::fsync(fd) != 0) failure(path + ": " + std::strerror(errno));
        if (::close(fd) != 0) {
            fd = -1;
            failure(path + ": " + std::strerror(errno));
        }
        fd = -1;
        if (force && ::rename(target.c_str(), path.c_str()) != 0) failure(path + ": " + std::strerror(errno));
    } catch (...) {
        if (fd >= 0) ::close(fd);
        ::unlink(target.c_str());
        throw;
    }
}

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

    writePrivateKeyFile(*out, privatePem.text, force);
    writeText(publicPem);
    return kExitOk;
}

}  // namespace corvane::tool
