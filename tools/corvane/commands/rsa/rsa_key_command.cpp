// corvane rsa key and rsa keygen: a key's public half as PEM or as the
// hexadecimal texts --modulus and --exponent take, and new key pairs from
// the library's generator written through the library's key writers.
#include <sys/random.h>
#include <sys/stat.h>

#include <Corvane/corvane.hpp>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "platform/secure_zero.h"
#include "tools/corvane/commands/rsa/rsa_commands.h"
#include "tools/corvane/commands/rsa/rsa_keys.h"
#include "tools/corvane/io/io.h"
#include "tools/corvane/io/output_file.h"
#include "tools/corvane/io/terminal_output.h"
#include "tools/corvane/options/passphrase_options.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

namespace {

const std::string kKeyHelp =
    std::string(
        "usage: corvane rsa key [--hex | --text] [--private] [--outform pem|der]\n"
        "                       [--pkcs1 | --pkcs8] [PASSPHRASE] [NEW-PASSPHRASE] [-o FILE] FILE\n"
        "Prints the public key of FILE (public or private) as PEM (\"PUBLIC KEY\"), or\n"
        "with --hex as the two lines modulus=HEX and exponent=HEX, the texts that\n"
        "--modulus and --exponent take (eval \"$(corvane rsa key --hex k.pem)\" sets\n"
        "the shell variables modulus and exponent). The private key's larger prime\n"
        "is always prime1, whatever order FILE has them in.\n"
        "PASSPHRASE, for an encrypted FILE, is --passin-file or --passin-env; without\n"
        "either, it is asked on the terminal. NEW-PASSPHRASE encrypts the private key\n"
        "written: --passout-file, --passout-env or --passout-prompt (asked twice); it\n"
        "needs --private. An encrypted PKCS #1 key exists only as PEM. DER is binary\n"
        "(see -o).\n") +
    kOutputHelp;

const char kKeygenHelp[] =
    "usage: corvane rsa keygen [--bits N] --out FILE [--force] [NEW-PASSPHRASE]\n"
    "A new key pair, public exponent 65537, its primes drawn from a random pool\n"
    "seeded by the system's random source. The private key goes to FILE,\n"
    "encrypted (AES-256-CBC) under NEW-PASSPHRASE when one is given:\n"
    "--passout-file FILE, --passout-env NAME or --passout-prompt (asked twice);\n"
    "the public key is printed as PEM. The key file takes its name only once it\n"
    "is complete on the disk and the public key is written; a failure leaves\n"
    "none.\n";

constexpr unsigned kSmallestBits = 512;
constexpr unsigned kDefaultBits = 1024;

// A string that held a private key; wiped when done.
struct WipedText {
    std::string text;
    ~WipedText() { secure_zero(text.data(), text.size()); }
};

unsigned keyBits(const Options& options, const std::optional<std::string>& text) {
    return static_cast<unsigned>(
        options.count(text, "--bits", kSmallestBits, MAX_RSA_MODULUS_BITS, kDefaultBits));
}

// The seed of keygen's random pool: 256 bytes, what a pool takes before it
// gives output, all from the operating system's entropy source.
constexpr std::size_t kPoolSeedBytes = 256;

// A random pool seeded from getrandom(2) alone, so that the key's primes
// owe nothing to the clock.
v1::RandomPool seededPool() {
    std::array<std::uint8_t, kPoolSeedBytes> seed{};
    struct WipeSeed {
        std::array<std::uint8_t, kPoolSeedBytes>& bytes;
        ~WipeSeed() { secure_zero(bytes.data(), bytes.size()); }
    } wipeSeed{seed};
    for (std::size_t filled = 0; filled < seed.size();) {
        const ssize_t n = ::getrandom(seed.data() + filled, seed.size() - filled, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) failure("key generation failed: the system's random source cannot be read");
        filled += static_cast<std::size_t>(n);
    }
    v1::RandomPool pool = v1::RandomPool::fromSeed(seed);
    if (pool.bytesNeeded() != 0) failure("key generation failed: the random pool wants more seed");
    return pool;
}

// A new key from the library's generator (primes drawn from a pool that
// the system's random source seeds), with the larger prime first, as in
// every key the tool reads.
v1::RsaPrivateKey generateKey(unsigned bits) {
    v1::RandomPool pool = seededPool();
    try {
        return v1::RsaPrivateKey::generate(bits, pool);
    } catch (const v1::Error& e) {
        failure(std::string("key generation failed: ") + e.what());
    }
}

// What rsa key writes, from its options.
struct KeyOutput {
    bool hex = false, text = false, isPrivate = false, pkcs1 = false, pkcs8 = false;
    std::optional<std::string> outform;
    PassphraseChoice passOut{"--passout",
                             "the passphrase that encrypts the private key written (AES-256-CBC)",
                             {{"--pass-out-file"}, {"--pass-out-env"}, {"--pass-out-prompt"}}};

    void declare(Options& options) {
        options.flag({"--hex"}, hex, "the public key as the two lines modulus=HEX and exponent=HEX")
            .flag({"--text"}, text,
                  "every field, as openssl rsa -text -noout prints them (private ones only with --private)")
            .flag({"--private"}, isPrivate, "the private key instead (FILE must hold one)")
            .flag({"--pkcs1"}, pkcs1, "PKCS #1 structures: \"RSA PRIVATE KEY\", \"RSA PUBLIC KEY\"")
            .flag({"--pkcs8"}, pkcs8,
                  "PKCS #8 (\"PRIVATE KEY\") and SubjectPublicKeyInfo (\"PUBLIC KEY\"), the default")
            .value("--outform", outform, {"PEM (the default) or DER bytes", "pem|der", {"pem", "der"}});
        passOut.declare(options);
    }

    // Refuses combinations that say two things at once; true for DER.
    bool check(const Options& options) const {
        if (hex && (text || isPrivate || pkcs1 || pkcs8 || outform || passOut.given()))
            options.fail("--hex prints the public key's two numbers; it takes no other output option");
        if (text && (pkcs1 || pkcs8 || outform || passOut.given()))
            options.fail("--text prints the key's fields instead of the key; it takes no format option");
        if (pkcs1 && pkcs8) options.fail("give either --pkcs1 or --pkcs8, not both");
        if (passOut.given() && !isPrivate)
            options.fail("--passout-file, --passout-env and --passout-prompt encrypt a private key: give --private");
        if (outform && *outform != "pem" && *outform != "der") options.fail("--outform takes pem or der");
        const bool der = outform && *outform == "der";
        if (der && pkcs1 && passOut.given())
            options.fail(
                "an encrypted PKCS #1 key exists only as PEM; use --pkcs8 (the default) or --outform pem");
        return der;
    }
    RsaKeyFormat format() const { return pkcs1 ? RsaKeyFormat::pkcs1 : RsaKeyFormat::standard; }
};

// The private key of path, as text, PEM or DER. Every copy is wiped.
void writePrivateKey(const Options& options, const std::string& path, const KeyOutput& output, bool der,
                     const PassphraseSource& passphrase) {
    struct WipedKey {
        R_RSA_PRIVATE_KEY record{};
        ~WipedKey() { secure_zero_object(record); }
    } key;
    loadRsaPrivateKey(path, key.record, passphrase);
    std::optional<SecretBytes> passOut =
        output.passOut.read(options, "Passphrase for the written key: ", true);
    std::string_view newPassphrase =
        passOut ? std::string_view(reinterpret_cast<const char*>(passOut->bytes().data()), passOut->size())
                : std::string_view();
    WipedText text;
    std::error_code error;
    if (output.text) {
        error = rsaPrivateKeyToText(key.record, text.text);
    } else if (der) {
        Bytes bytes;
        error = rsaPrivateKeyToDer(key.record, bytes, output.format(), newPassphrase);
        SecretBytes wiped(std::move(bytes));
        if (!error) writeBytes(wiped.span());
    } else {
        error = rsaPrivateKeyToPem(key.record, text.text, output.format(), newPassphrase);
    }
    if (error) failure(inputName(path) + ": " + error.message());
    writeText(text.text);
}

void writePublicKey(const std::string& path, const KeyOutput& output, bool der,
                    const PassphraseSource& passphrase) {
    R_RSA_PUBLIC_KEY key;
    loadRsaPublicKey(path, key, passphrase);
    std::error_code error;
    std::string text;
    if (output.hex) {
        RsaHexKey texts;
        error = rsaPublicKeyToHex(key, texts);
        text = "modulus=" + texts.modulus + "\nexponent=" + texts.exponent + "\n";
    } else if (output.text) {
        error = rsaPublicKeyToText(key, text);
    } else if (der) {
        Bytes bytes;
        error = rsaPublicKeyToDer(key, bytes, output.format());
        if (!error) writeBytes(bytes);
    } else {
        error = rsaPublicKeyToPem(key, text, output.format());
    }
    if (error) failure(inputName(path) + ": " + error.message());
    writeText(text);
}

}  // namespace

int runRsaKey(const Args& args) {
    KeyOutput output;
    PassphraseOptions passphraseOptions;
    Options options("rsa key", kKeyHelp);
    output.declare(options);
    passphraseOptions.declare(options);
    std::optional<std::string> outputFile;
    declareOutput(options, outputFile);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(1);
    if (options.positional().empty()) options.fail("a key file is needed: corvane rsa key [OPTIONS] FILE");
    const bool der = output.check(options);
    checkBinaryOutput(outputFile, der, "leave out --outform der for PEM, the default");
    const std::string& path = options.positional().front();

    PassphraseSource passphrase = passphraseOptions.source(options);
    return runWithOutput(outputFile, [&] {
        if (output.isPrivate)
            writePrivateKey(options, path, output, der, passphrase);
        else
            writePublicKey(path, output, der, passphrase);
        return kExitOk;
    });
}

int runRsaKeygen(const Args& args) {
    std::optional<std::string> bitsText, out;
    bool force = false;
    PassphraseChoice passOut{"--passout", "the passphrase that encrypts the new key (AES-256-CBC)",
                             {{"--passphrase-file"}, {"--passphrase-env"}, {"--pass-prompt"}}};
    Options options("rsa keygen", kKeygenHelp);
    options.value("--bits", bitsText, {"the key's size, 512 to 1024 (default 1024)", "N", {"512", "768", "1024"}})
        .value("--out", out, {"the private key, PKCS #8 PEM, created with mode 0600", "FILE"})
        .flag({"--force"}, force, "replace FILE if it exists (it is kept otherwise)");
    passOut.declare(options);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(0);
    unsigned bits = keyBits(options, bitsText);
    if (!out)
        options.fail("the private key needs a file: --out FILE (it is never written to standard output)");
    if (*out == "-") options.fail("--out needs a file; the private key is never written to standard output");
    passOut.refuseTwoForms(options);
    // Refused before the work of making a key; checked again when the file
    // takes its name.
    struct stat existing {};
    if (!force && ::lstat(out->c_str(), &existing) == 0) failure(*out + " exists; give --force to replace it");
    // A file, a variable or the terminal encrypts the new key; an
    // unencrypted key is the default.
    const std::optional<SecretBytes> passphrase =
        passOut.read(options, "Passphrase for the new key " + *out + ": ", true);
    const std::string_view newPassphrase =
        passphrase ? std::string_view(reinterpret_cast<const char*>(passphrase->bytes().data()), passphrase->size())
                   : std::string_view();

    // The key object wipes its record when it goes.
    const v1::RsaPrivateKey key = generateKey(bits);
    WipedText privatePem;
    if (std::error_code error =
            rsaPrivateKeyToPem(key.record(), privatePem.text, RsaKeyFormat::standard, newPassphrase))
        failure("the new key could not be written: " + error.message());
    std::string publicPem;
    if (std::error_code error = rsaPublicKeyToPem(key.publicKey().record(), publicPem))
        failure("the new key could not be written: " + error.message());

    // The key file takes its name only when everything else has worked: the
    // private key is on the disk and the public key has reached standard
    // output. A failure before leaves nothing behind.
    PendingFile file(*out);
    file.writeAll(
        std::span(reinterpret_cast<const std::uint8_t*>(privatePem.text.data()), privatePem.text.size()));
    file.close();
    writeText(publicPem);
    flushOutput();
    file.commit(force);
    return kExitOk;
}

}  // namespace corvane::tool
