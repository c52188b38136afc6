// corvane des3 encrypt | decrypt | keygen: triple-DES in CBC mode with
// PKCS #7 padding through the library's streaming cipher, in bounded memory.
#include <Corvane/QVDes3.h>

#include <cstdio>
#include <string>

#include "tools/corvane/commands/actions.h"
#include "tools/corvane/commands/commands.h"
#include "tools/corvane/commands/des3_passphrase.h"
#include "tools/corvane/io/base64_stream.h"
#include "tools/corvane/io/chunked_io.h"
#include "tools/corvane/io/des3_stream.h"
#include "tools/corvane/io/output_file.h"
#include "tools/corvane/io/terminal_output.h"
#include "tools/corvane/options/options.h"
#include "tools/corvane/secrets/secrets.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

namespace {

const char kHelp[] =
    "usage: corvane des3 encrypt KEY [IV] [--raw] [-q] [-o FILE] [FILE]\n"
    "       corvane des3 decrypt KEY [IV] [--raw] [-q] [-o FILE] [FILE]\n"
    "       corvane des3 encrypt PASSPHRASE [--iter N] [--md NAME] [--raw] [-o FILE] [FILE]\n"
    "       corvane des3 decrypt PASSPHRASE [--iter N] [--md NAME] [--raw] [-o FILE] [FILE]\n"
    "       corvane des3 keygen\n"
    "Triple-DES (three-key, 24 bytes) in CBC mode with PKCS #7 padding.\n"
    "\n"
    "Triple-DES, and the key used as IV, are kept for interoperability with\n"
    "existing peers, not recommended for new designs; its 8-byte block makes\n"
    "many gigabytes under one key unwise.\n"
    "Exit status: 0 success, 1 unreadable input or key file, invalid Base64 or\n"
    "failed decryption (wrong key, or damaged or truncated data; without -o, the\n"
    "output written before the end is then incomplete), 2 usage error.\n";

// What encrypt and decrypt share, after their usage lines.
const char kCipherHelp[] =
    "Input of any size is coded in pieces, in bounded memory; the output is\n"
    "that of coding the whole input at once. FILE is standard input for none\n"
    "or \"-\".\n"
    "\n"
    "KEY is one of the --key forms: 1 to 24 bytes, a shorter key extended with\n"
    "zero bytes. IV is one of the same six --iv forms: up to 8 bytes, extended\n"
    "with zero bytes; without one, the key's first 8 bytes serve as the IV. Key\n"
    "and IV files larger than 4096 bytes are refused.\n"
    "\n"
    "PASSPHRASE takes the place of KEY and IV: --passin-file, --passin-env or\n"
    "--passin-prompt (asked twice to encrypt), never the command line itself. The\n"
    "format is that of openssl enc -des-ede3-cbc -pbkdf2 [-iter N] [-md NAME]:\n"
    "\"Salted__\", a random 8-byte salt, then the ciphertext under the key and IV\n"
    "derived from passphrase and salt. With --raw the bytes are those openssl\n"
    "writes; without, their Base64 on one line, as openssl enc -a -A writes.\n"
    "--iter takes 1 to 2147483647. A carriage return before the line feed of a\n"
    "--passin-file is dropped (openssl -pass file: keeps it). A wrong passphrase,\n"
    "--iter or --md fails at the end, as damaged data does; as with openssl,\n"
    "about one wrong passphrase in 256 passes the padding check and gives\n"
    "garbage.\n";

const std::string kEncryptHelp =
    std::string(
        "usage: corvane des3 encrypt KEY [IV] [--raw] [-q] [-o FILE] [FILE]\n"
        "       corvane des3 encrypt PASSPHRASE [--iter N] [--md NAME] [--raw] [-o FILE] [FILE]\n"
        "Writes the ciphertext of FILE in Base64 on one line, or as bytes with\n"
        "--raw (see -o).\n") +
    kCipherHelp + "\n" + kOutputHelp;

const std::string kDecryptHelp =
    std::string(
        "usage: corvane des3 decrypt KEY [IV] [--raw] [-q] [-o FILE] [FILE]\n"
        "       corvane des3 decrypt PASSPHRASE [--iter N] [--md NAME] [--raw] [-o FILE] [FILE]\n"
        "Reads Base64 (whitespace skipped), or bytes with --raw, and writes the\n"
        "plaintext's bytes; a plaintext that does not start as text (its first 4096\n"
        "bytes) is not written to a terminal (see -o). Base64 text given to --raw is\n"
        "refused before anything is written.\n") +
    kCipherHelp + "\n" + kOutputHelp;

const char kKeygenHelp[] =
    "usage: corvane des3 keygen\n"
    "Prints a new key of 24 characters (0-9, A-F) for --key, drawn from the\n"
    "operating system's entropy source. Being text, it holds 96 bits of\n"
    "randomness; `openssl rand -hex 24` with --key-hex gives a full 192.\n";

constexpr std::size_t kKeyLength = 24;
constexpr std::size_t kIvLength = 8;

// The six ways of giving the key or the IV.
struct SecretOptions {
    explicit SecretOptions(std::string secretName) : name(std::move(secretName)) {}

    std::string name;  // "key" or "iv"
    std::optional<std::string> text, hex, file, hexFile, env, hexEnv;

    bool given() const { return text || hex || file || hexFile || env || hexEnv; }

    void declare(Options& options) {
        const std::string the = name == "key" ? "the key" : "the IV";
        options.value({"--" + name}, text, {the + " as text on the command line (ps and the shell's history see it)", "TEXT"})
            .value({"--" + name + "-hex"}, hex, {the + " as hexadecimal digits on the command line", "HEX"})
            .value({"--" + name + "-file"}, file, {the + ": the file's bytes, exactly (a line end counts)", "FILE"})
            .value({"--" + name + "-hex-file"}, hexFile, {the + ": hexadecimal digits in the file", "FILE"})
            .value({"--" + name + "-env"}, env, {the + ": the environment variable's value", "NAME"})
            .value({"--" + name + "-hex-env"}, hexEnv, {the + ": hexadecimal digits in the variable", "NAME"});
    }
};

// The secret's bytes, or nullopt when none of its options was given. A
// malformed value on the command line is a usage error; one read from a
// file or the environment is a failure that names where it came from.
std::optional<SecretBytes> readSecret(const Options& options, const SecretOptions& s, std::size_t maxLength) {
    int given = !!s.text + !!s.hex + !!s.file + !!s.hexFile + !!s.env + !!s.hexEnv;
    if (given > 1)
        options.fail(s.name == "key" ? "give either --key or --key-hex, not both (nor another --key-* form)"
                                     : "give either --iv or --iv-hex, not both (nor another --iv-* form)");
    if (given == 0) return std::nullopt;

    const bool fromCommandLine = s.text || s.hex;
    std::string source;
    SecretBytes secret;
    if (s.text) {
        secret = SecretBytes(Bytes(s.text->begin(), s.text->end()));
    } else if (s.hex) {
        std::string problem;
        auto parsed = secretFromHexDigits(*s.hex, problem);
        if (!parsed) options.fail("--" + s.name + "-hex " + problem);
        secret = SecretBytes(std::move(*parsed));
    } else if (s.file || s.env) {
        source = s.file ? s.name + " file " + *s.file : "environment variable " + *s.env;
        secret = s.file ? readSecretFile(*s.file, kSecretFileLimit, s.name + " file")
                        : secretFromEnvironment(*s.env, "the " + s.name);
    } else {
        source = s.hexFile ? s.name + " file " + *s.hexFile : "environment variable " + *s.hexEnv;
        SecretBytes text = s.hexFile ? readSecretFile(*s.hexFile, kSecretFileLimit, s.name + " file")
                                     : secretFromEnvironment(*s.hexEnv, "the " + s.name);
        std::string problem;
        auto parsed = secretFromHex(text.span(), &problem);
        if (!parsed) failure(source + " " + problem);
        secret = std::move(*parsed);
    }

    auto refuse = [&](const std::string& message) {
        if (fromCommandLine) options.fail(message);
        failure(message + " (from " + source + ")");
    };
    if (secret.empty()) refuse("the " + s.name + " is empty");
    // The class cuts longer values silently; refusing them here keeps a
    // mistyped key from being used in part.
    if (secret.size() > maxLength)
        refuse("the " + s.name + " has " + std::to_string(secret.size()) + " bytes; at most " +
               std::to_string(maxLength) + " are used");
    return secret;
}

int runCipher(const Args& args, bool encrypt) {
    SecretOptions keyOptions("key"), ivOptions("iv");
    bool raw = false, quiet = false, progress = false;
    Options options(encrypt ? "des3 encrypt" : "des3 decrypt", encrypt ? kEncryptHelp : kDecryptHelp);
    keyOptions.declare(options);
    ivOptions.declare(options);
    options.flag({"--raw"}, raw,
                 encrypt ? "write the ciphertext as bytes rather than Base64"
                         : "read the ciphertext as bytes rather than Base64")
        .flag({"--quiet", "-q"}, quiet,
              "no warning when no IV is given or the key is shorter than 24 bytes (openssl enc takes neither: "
              "it refuses a missing IV, and a 16-byte key is two-key triple-DES to it)")
        .flag({"--progress"}, progress, kProgressHelp);
    std::optional<std::string> output;
    declareOutput(options, output);
    Des3PassphraseOptions passphraseOptions;
    passphraseOptions.declare(options);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(1);
    if (encrypt) checkBinaryOutput(output, raw, "leave out --raw for Base64, the default");
    if (passphraseOptions.given()) {
        if (keyOptions.given() || ivOptions.given())
            options.fail("give either a passphrase (" + passphraseOptions.passphrase.names() +
                         ") or a key and IV, not both");
        return runWithOutput(output, [&] {
            return runDes3WithPassphrase(options, passphraseOptions, encrypt, raw, progress, output);
        });
    }
    std::optional<SecretBytes> key = readSecret(options, keyOptions, kKeyLength);
    if (!key) options.fail("a key is needed: --key TEXT or --key-hex HEX (or a --key-file/--key-env form)");
    std::optional<SecretBytes> iv = readSecret(options, ivOptions, kIvLength);

    // Two silent differences from openssl enc, said once each.
    if (!quiet && key->size() < kKeyLength)
        printError(
            "des3: warning: the key has " + std::to_string(key->size()) +
            " bytes; it is extended with zero bytes to 24 (openssl's two-key -des-ede-cbc is not the same)");
    if (!quiet && !iv)
        printError(
            "des3: warning: no IV given; the key's first 8 bytes serve as the IV (openssl enc would refuse)");

    std::optional<std::span<const std::uint8_t>> ivBytes;
    if (iv) ivBytes = iv->span();
    return runWithOutput(output, [&] {
        StdoutSink out;
        if (encrypt) {
            // Ciphertext as one line of Base64, or as it is.
            Base64EncodeStage text(Base64Family::standard, true, 0, out);
            Des3Stage cipher(true, key->span(), ivBytes, raw ? static_cast<ByteSink&>(out) : text);
            pumpInput(options.positional(), cipher, progress);
        } else {
            TerminalTextCheck plaintext(output, "", out);
            Des3Stage cipher(false, key->span(), ivBytes, plaintext);
            pumpCiphertext(options.positional(), raw, cipher, progress);
        }
        return kExitOk;
    });
}

int runKeygen(const Args& args) {
    Options options("des3 keygen", kKeygenHelp);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(0);
    Ref<NSData> key = QVDes3::createRandomDes3Key();
    if (!key) failure("key creation failed (out of memory)");
    writeBytes(key->span());
    writeText("\n");
    return kExitOk;
}

}  // namespace

int runDes3(const Args& args) {
    static const Action actions[] = {
        {"encrypt", [](const Args& rest) { return runCipher(rest, true); }, "ciphertext under a key or passphrase"},
        {"decrypt", [](const Args& rest) { return runCipher(rest, false); }, "the plaintext of encrypt's output"},
        {"keygen", runKeygen, "a new key for --key"},
    };
    return runAction("des3", actions, kHelp, args);
}

}  // namespace corvane::tool
