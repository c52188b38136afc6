// corvane rsa key and rsa keygen: a key's public half as PEM or as the
// hexadecimal texts QVSimpleRSA takes, and new key pairs from OpenSSL's
// generator written through the library's key writers.
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "../../platform/secure_zero.h"
#include "io.h"
#include "output_file.h"
#include "passphrase_options.h"
#include "rsa_commands.h"
#include "rsa_keys.h"
#include "tool_error.h"

namespace corvane::tool {

namespace {

const std::string kKeyHelp =
    std::string(
        "usage: corvane rsa key [--hex | --text] [--private] [--outform pem|der]\n"
        "                       [--pkcs1 | --pkcs8] [NEW-PASSPHRASE] [PASSPHRASE] [-o FILE] FILE\n"
        "Prints the public key of FILE (public or private) as PEM (\"PUBLIC KEY\"), or\n"
        "with --hex as the two lines modulus=HEX and exponent=HEX: the texts of\n"
        "--modulus/--exponent and setPublicKey (eval \"$(corvane rsa key --hex k.pem)\"\n"
        "sets the shell variables modulus and exponent). The private key's larger\n"
        "prime is always prime1, whatever order FILE has them in.\n"
        "NEW-PASSPHRASE encrypts the private key written: --pass-out-file,\n"
        "--pass-out-env or --pass-out-prompt (asked twice); it needs --private. An\n"
        "encrypted PKCS #1 key exists only as PEM. PASSPHRASE, for an encrypted FILE,\n"
        "is --passphrase-file or --passphrase-env; without either, it is asked on the\n"
        "terminal.\n") +
    kOutputHelp;

const char kKeygenHelp[] =
    "usage: corvane rsa keygen [--bits N] --out FILE [--force] [PASSPHRASE | --pass-prompt]\n"
    "A new key pair from OpenSSL's generator, public exponent 65537. The private\n"
    "key goes to FILE, encrypted (AES-256-CBC) under PASSPHRASE when one is given\n"
    "(--passphrase-file or --passphrase-env) or typed at --pass-prompt; the\n"
    "public key is printed as PEM. The key file takes its name only once it is\n"
    "complete on the disk and the public key is written; a failure leaves none.\n";

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

// What rsa key writes, from its options.
struct KeyOutput {
    bool hex = false, text = false, isPrivate = false, pkcs1 = false, pkcs8 = false;
    std::optional<std::string> outform;
    PassphraseChoice passOut{"--pass-out", "the passphrase that encrypts the private key written (AES-256-CBC)"};

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
            options.fail(
                "--pass-out-file, --pass-out-env and --pass-out-prompt encrypt a private key: give "
                "--private");
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
    const std::string& path = options.positional().front();

    PassphraseSource passphrase(passphraseOptions.file, passphraseOptions.environment,
                                passphraseOptions.readOptions(options));
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
    bool force = false, prompt = false;
    PassphraseOptions passphraseOptions;
    Options options("rsa keygen", kKeygenHelp);
    options.value("--bits", bitsText, {"the key's size, 512 to 1024 (default 1024)", "N", {"512", "768", "1024"}})
        .value("--out", out, {"the private key, PKCS #8 PEM, created with mode 0600", "FILE"})
        .flag({"--force"}, force, "replace FILE if it exists (it is kept otherwise)")
        .flag({"--pass-prompt"}, prompt,
              "encrypt the key under a passphrase asked on the terminal (twice, to confirm)");
    passphraseOptions.declare(options, false);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(0);
    unsigned bits = keyBits(options, bitsText);
    if (!out)
        options.fail("the private key needs a file: --out FILE (it is never written to standard output)");
    if (*out == "-") options.fail("--out needs a file; the private key is never written to standard output");
    if (prompt && (passphraseOptions.file || passphraseOptions.environment))
        options.fail("give one of --passphrase-file, --passphrase-env or --pass-prompt, not more");
    // A file, a variable or, when asked, the terminal encrypts the new key;
    // an unencrypted key is the default.
    PassphraseSource passphrase(passphraseOptions.file, passphraseOptions.environment);
    if (passphrase.given()) refuseUnusablePassphrase(passphrase.text().size());
    // Refused before the work of making a key; checked again when the file
    // takes its name.
    struct stat existing {};
    if (!force && ::lstat(out->c_str(), &existing) == 0) failure(*out + " exists; give --force to replace it");
    std::optional<SecretBytes> typed;
    if (prompt) typed = promptForPassphrase("Passphrase for the new key " + *out + ": ", true);
    const std::string_view newPassphrase =
        typed ? std::string_view(reinterpret_cast<const char*>(typed->bytes().data()), typed->size())
        : passphrase.given() ? passphrase.text()
                             : std::string_view();

    struct WipedKey {
        R_RSA_PRIVATE_KEY record;
        ~WipedKey() { secure_zero_object(record); }
    } key;
    generateKey(bits, key.record);
    WipedText privatePem;
    if (std::error_code error =
            rsaPrivateKeyToPem(key.record, privatePem.text, RsaKeyFormat::standard, newPassphrase))
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
