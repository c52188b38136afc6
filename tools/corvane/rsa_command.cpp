// corvane rsa encrypt | decrypt | sign | recover | key | keygen: PKCS #1
// v1.5 blocks of both types through QVSimpleRSA and the block operations,
// with keys read by the library's key readers (moduli up to 1024 bits).
#include <Corvane/QVSimpleRSA.h>
#include <Corvane/r_random.h>
#include <Corvane/rsa.h>

#include <Corvane/corvane.hpp>
#include <cstdio>
#include <string>

#include "../../platform/secure_zero.h"
#include "base64_stream.h"
#include "commands.h"
#include "hex_number.h"
#include "options.h"
#include "rsa_commands.h"
#include "rsa_keys.h"
#include "rsa_lines.h"
#include "tool_error.h"

namespace corvane::tool {

const char kRsaHelp[] =
    "usage: corvane rsa encrypt PUBLIC-KEY [--message TEXT | FILE] [--raw | --hex]\n"
    "       corvane rsa decrypt --key FILE [PASSPHRASE] [--raw] [--hex] [FILE]\n"
    "       corvane rsa sign --key FILE [PASSPHRASE] [--message TEXT | FILE] [--raw | --hex]\n"
    "       corvane rsa recover PUBLIC-KEY [--raw] [--hex] [FILE]\n"
    "       corvane rsa encrypt PUBLIC-KEY --lines [--hex] [FILE]\n"
    "       corvane rsa decrypt|sign --key FILE [PASSPHRASE] --lines [--hex] [FILE]\n"
    "       corvane rsa key [--hex | --text] [--private] [--outform pem|der]\n"
    "                       [--pkcs1 | --pkcs8] [NEW-PASSPHRASE] [PASSPHRASE] FILE\n"
    "       corvane rsa keygen [--bits N] --out FILE [--force] [PASSPHRASE]\n"
    "RSA with PKCS #1 v1.5 blocks and keys of up to 1024 bits.\n"
    "\n"
    "PUBLIC-KEY is one of:\n"
    "  --pubkey FILE                  an RSA public key file, PEM or DER (\"PUBLIC KEY\",\n"
    "                                 \"RSA PUBLIC KEY\", an X.509 certificate, or a\n"
    "                                 private key file, whose public half is used)\n"
    "  --modulus HEX --exponent HEX   the key as hexadecimal numbers, the texts\n"
    "                                 QVSimpleRSA::setPublicKey takes (see rsa key)\n"
    "--key FILE is a private key, PKCS #8 or PKCS #1, PEM or DER. PASSPHRASE, for\n"
    "an encrypted key, is one of (never the command line itself):\n"
    "  --passphrase-file FILE         the first line of FILE\n"
    "  --passphrase-env NAME          the environment variable's value\n"
    "without either, it is asked on the terminal. A passphrase holds 1 to 1024\n"
    "bytes. Keys are read and checked before any input. Public keys that protect\n"
    "nothing are refused: an exponent of 0 or 1, an even exponent, an even\n"
    "modulus. Key files above 1 MiB are refused.\n"
    "\n"
    "encrypt: a block of type 2 (random filler). The message is TEXT, or the bytes\n"
    "of FILE (standard input for none or \"-\"), at most the key's length in bytes\n"
    "less 11. The block is written in Base64 on one line, as bytes with --raw, or\n"
    "in lower-case hexadecimal on one line with --hex.\n"
    "With --modulus/--exponent (a modulus of 512 to 1024 bits: 128 to 256 digits)\n"
    "it goes through QVSimpleRSA.\n"
    "decrypt: reads one block made by encrypt, in Base64 (whitespace skipped) or\n"
    "as bytes with --raw, from FILE or standard input, and writes the message\n"
    "(with --hex in lower-case hexadecimal on one line).\n"
    "sign: a block of type 1 (0xFF filler) under the private key, what legacy\n"
    "peers call a signature; message and output as for encrypt. The same as\n"
    "openssl pkeyutl -sign with no digest. Keys whose public half protects\n"
    "nothing are refused.\n"
    "recover: takes the message back out of a block made by sign, as openssl\n"
    "pkeyutl -verifyrecover does; input and output as for decrypt. A block that\n"
    "is not a signature under the key fails.\n"
    "--lines (encrypt, decrypt, sign): one item per line of FILE (standard input\n"
    "for none or \"-\"), in Base64: a block for decrypt, a message for encrypt\n"
    "and sign (Base64, so that any bytes fit on a line; decrypt --lines writes\n"
    "its messages in Base64 too, and its output feeds encrypt --lines back).\n"
    "One line is written per input line, in order: the result in Base64, or\n"
    "with --hex in hexadecimal. An empty line is the empty message (a bad line\n"
    "for decrypt). A bad line (not Base64, a wrong length, a block that does\n"
    "not decrypt, more than 4096 bytes) gives the line \"error: WHAT\" in its\n"
    "place and a message naming its line number on standard error; the other\n"
    "lines go on, and the exit status is 1. Lines are read 64 at a time and\n"
    "handed to the library's batch calls: memory stays bounded whatever the\n"
    "input's length. A carriage return before a line feed is dropped. With\n"
    "--modulus/--exponent, encrypt --lines takes the key at its true size, as\n"
    "recover does, not through QVSimpleRSA.\n"
    "key: prints the public key of FILE (public or private) as PEM (\"PUBLIC KEY\"),\n"
    "or with --hex as the two lines modulus=HEX and exponent=HEX: the texts of\n"
    "--modulus/--exponent and setPublicKey (eval \"$(corvane rsa key --hex k.pem)\"\n"
    "sets the shell variables modulus and exponent).\n"
    "  --private                      the private key instead (FILE must hold one)\n"
    "  --text                         every field, as openssl rsa -text -noout\n"
    "                                 prints them (private ones only with --private)\n"
    "  --outform pem|der              PEM (the default) or DER bytes\n"
    "  --pkcs8, --pkcs1               the structure: PKCS #8 (\"PRIVATE KEY\") and\n"
    "                                 SubjectPublicKeyInfo (\"PUBLIC KEY\"), the\n"
    "                                 default, or PKCS #1 (\"RSA PRIVATE KEY\",\n"
    "                                 \"RSA PUBLIC KEY\")\n"
    "NEW-PASSPHRASE encrypts the private key written (AES-256-CBC), one of:\n"
    "  --pass-out-file FILE           the first line of FILE\n"
    "  --pass-out-env NAME            the environment variable's value\n"
    "  --pass-out-prompt              asked on the terminal, twice\n"
    "An encrypted PKCS #1 key exists only as PEM. The private key's larger prime\n"
    "is always prime1, whatever order FILE has them in.\n"
    "keygen: a new key pair from OpenSSL's generator, exponent 65537:\n"
    "  --bits N                       512 to 1024 (default 1024)\n"
    "  --out FILE                     the private key, PKCS #8 PEM, created with mode\n"
    "                                 0600; encrypted (AES-256-CBC) under PASSPHRASE\n"
    "                                 when one is given as a file or variable\n"
    "  --pass-prompt                  encrypt it under a passphrase asked on the\n"
    "                                 terminal (twice, to confirm), instead of\n"
    "                                 PASSPHRASE\n"
    "  --force                        replace FILE if it exists (it is kept otherwise)\n"
    "The public key is printed as PEM. The key file takes its name only once it\n"
    "is complete on the disk and the public key is written; a failure leaves none.\n"
    "\n"
    "Secrets in memory: every buffer that held a private key, a passphrase or a\n"
    "decrypted message is wiped before it is freed, libcrypto's blocks included;\n"
    "core dumps and debugger attachment are off while the command runs. Not\n"
    "covered: swapped-out memory and the environment (see corvane(1)).\n"
    "\n"
    "RSA of 1024 bits or less and PKCS #1 v1.5 padding are kept for\n"
    "interoperability with existing peers, not recommended for new designs.\n"
    "Exit status: 0 success, 1 unusable key, unreadable file, invalid input or\n"
    "failed operation, 2 usage error.\n";

namespace {

// QVSimpleRSA records moduli of up to 64 bytes as 512 bits: 64-byte blocks.
constexpr std::size_t kSimpleRsaBlockLength = 64;
constexpr std::size_t kPaddingOverhead = 11;
// Messages and blocks are at most 128 bytes, their Base64 a few hundred
// characters; anything beyond this is not one of them.
constexpr std::size_t kInputLimit = 65536;

// Bytes that hold a message or a decrypted block; wiped when done.
struct WipedBytes {
    Bytes bytes;
    ~WipedBytes() { secure_zero(bytes.data(), bytes.size()); }
};

// --pubkey FILE or --modulus HEX --exponent HEX.
struct PublicKeyOptions {
    std::optional<std::string> modulus, exponent, pubkey;
    PassphraseOptions passphrase;

    void declare(Options& options) {
        options.value("--modulus", modulus).value("--exponent", exponent).value("--pubkey", pubkey);
        passphrase.declare(options);
    }
    bool hex() const { return modulus || exponent; }
    void check(const Options& options) const {
        if (hex() && pubkey) options.fail("give either --modulus/--exponent or --pubkey, not both");
        if (!hex() && !pubkey)
            options.fail("a key is needed: --modulus HEX --exponent HEX, or --pubkey FILE");
        if (hex() && (!modulus || !exponent)) options.fail("--modulus and --exponent go together");
    }
};

// The canonical forms of --modulus and --exponent (a usage error when they
// are not hexadecimal), refused when they protect nothing.
std::pair<std::string, std::string> hexKeyTexts(const Options& options, const PublicKeyOptions& key) {
    auto modulus = canonicalHexNumber(*key.modulus);
    if (!modulus) options.fail("--modulus is not a hexadecimal number");
    auto exponent = canonicalHexNumber(*key.exponent);
    if (!exponent) options.fail("--exponent is not a hexadecimal number");
    return {*modulus, *exponent};
}

void refuseHexKeyThatProtectsNothing(const std::string& modulus, const std::string& exponent) {
    refuseKeyThatProtectsNothing(v1::hexDecode(modulus), v1::hexDecode(exponent), "--modulus/--exponent");
}

std::size_t blockLengthOf(unsigned bits) { return (bits + 7u) / 8u; }

// Standard input can feed the key or the input, not both.
void refuseTwoReadersOfStandardInput(const Options& options, const std::string& keyPath,
                                     bool inputFromStdin) {
    if (keyPath == "-" && inputFromStdin)
        options.fail("the key and the input cannot both come from standard input");
}

bool readsStandardInput(const Options& options) {
    return options.positional().empty() || options.positional().front() == "-";
}

// The message of encrypt and sign: TEXT or the input, at most limit bytes
// for a key whose blocks are blockLength bytes.
void readMessage(const Options& options, const std::optional<std::string>& text, std::size_t blockLength,
                 WipedBytes& message) {
    message.bytes = text ? Bytes(text->begin(), text->end()) : readInput(options.positional(), kInputLimit);
    std::size_t limit = blockLength - kPaddingOverhead;
    if (message.bytes.size() > limit)
        failure("message too long: " + std::to_string(message.bytes.size()) + " bytes; at most " +
                std::to_string(limit) + " fit a " + std::to_string(blockLength * 8) + "-bit key");
}

// The block of decrypt and recover: Base64 or bytes, of the key's length.
Bytes readBlock(const Options& options, bool raw, std::size_t blockLength, const char* what) {
    Bytes input = readInput(options.positional(), kInputLimit);
    Bytes block;
    if (raw) {
        block = std::move(input);
    } else {
        auto decoded = base64Decode(input, Base64Family::standard);
        if (!decoded) failure("input is not valid Base64 (use --raw for a binary block)");
        block = std::move(*decoded);
    }
    if (block.size() != blockLength)
        failure(std::string("the ") + what + " has " + std::to_string(block.size()) +
                " bytes; this key's blocks have " + std::to_string(blockLength));
    return block;
}

void writeBlock(const Bytes& block, bool raw, bool hex) {
    if (hex)
        writeText(v1::hexEncode(block) + "\n");
    else if (raw)
        writeBytes(block);
    else
        writeText(base64Encode(block, Base64Family::standard) + "\n");
}

// The message of decrypt and recover: its bytes, or with --hex their
// hexadecimal text on one line (wiped once written, as the bytes are).
void writeMessage(std::span<const std::uint8_t> message, bool hex) {
    if (!hex) return writeBytes(message);
    std::string text = v1::hexEncode(message) + "\n";
    writeText(text);
    secure_zero(text.data(), text.size());
}

// --hex with --raw where both name the output (encrypt, sign).
void refuseTwoOutputFormats(const Options& options, bool raw, bool hex) {
    if (raw && hex) options.fail("give either --raw or --hex, not both");
}

std::string statusText(std::int32_t status) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%04x", static_cast<unsigned>(status));
    return code;
}

// The key of --pubkey FILE or --modulus/--exponent (at its true size), refused
// when it protects nothing.
void loadPublicKey(const Options& options, const PublicKeyOptions& key, R_RSA_PUBLIC_KEY& record) {
    if (key.hex()) {
        auto [modulus, exponent] = hexKeyTexts(options, key);
        refuseHexKeyThatProtectsNothing(modulus, exponent);
        rsaPublicKeyFromHexTexts(modulus, exponent, record);
    } else {
        PassphraseSource passphrase(key.passphrase.file, key.passphrase.environment);
        loadRsaPublicKey(*key.pubkey, record, passphrase);
        refuseKeyThatProtectsNothing(record, inputName(*key.pubkey));
    }
}

// --lines reads its items from the input and writes one line per item.
void checkLinesOptions(const Options& options, bool lines, bool raw, bool messageText) {
    if (!lines) return;
    if (raw) options.fail("--lines reads and writes lines of text: --raw does not go with it");
    if (messageText) options.fail("--lines reads its messages from the input, not from --message");
}

int runEncrypt(const Args& args) {
    PublicKeyOptions key;
    std::optional<std::string> messageText;
    bool raw = false;
    Options options("rsa encrypt", kRsaHelp);
    key.declare(options);
    bool hex = false;
    bool lines = false;
    options.value("--message", messageText)
        .flag({"--raw"}, raw)
        .flag({"--hex"}, hex)
        .flag({"--lines"}, lines);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(messageText ? 0 : 1);
    refuseTwoOutputFormats(options, raw, hex);
    checkLinesOptions(options, lines, raw, messageText.has_value());
    key.check(options);
    if (key.pubkey)
        refuseTwoReadersOfStandardInput(options, *key.pubkey, !messageText && readsStandardInput(options));
    if (lines) {
        R_RSA_PUBLIC_KEY record;
        loadPublicKey(options, key, record);
        return encryptLines(options.positional(), v1::RsaPublicKey::fromRecord(record), hex);
    }

    WipedBytes message;
    Bytes block;
    if (key.hex()) {
        auto [modulus, exponent] = hexKeyTexts(options, key);
        // The class records moduli of up to 64 bytes as 512 bits, so those
        // pad to 64-byte blocks and only a modulus of exactly 64 significant
        // bytes gives a usable encryption; longer moduli (up to 1024 bits)
        // are recorded with their own size, and their blocks are as long.
        std::size_t modulusBytes = modulus.size() / 2;
        if (modulusBytes < kSimpleRsaBlockLength || modulusBytes > MAX_RSA_MODULUS_LEN)
            failure(
                "the --modulus form takes moduli of 512 to 1024 bits (128 to 256 hexadecimal digits); this "
                "one has " +
                std::to_string(modulusBytes) + " bytes");
        refuseHexKeyThatProtectsNothing(modulus, exponent);
        if (exponent.size() > modulus.size()) failure("the exponent is longer than the modulus");
        readMessage(options, messageText, modulusBytes, message);

        Ref<QVSimpleRSA> rsa = make_ref<QVSimpleRSA>();
        if (!rsa) failure("out of memory");
        if (std::int32_t status = rsa->setPublicKey(modulus.c_str(), exponent.c_str()); status != 0)
            failure("QVSimpleRSA refused the key (status " + std::to_string(status) + ")");
        std::int32_t error = 0;
        Ref<NSData> encrypted = rsa->createEncryptData(
            message.bytes.data(), static_cast<std::int64_t>(message.bytes.size()), &error);
        if (!encrypted) failure("RSA encryption failed (status " + std::to_string(error) + ")");
        block.assign(encrypted->span().begin(), encrypted->span().end());
    } else {
        R_RSA_PUBLIC_KEY record;
        PassphraseSource passphrase(key.passphrase.file, key.passphrase.environment);
        loadRsaPublicKey(*key.pubkey, record, passphrase);
        refuseKeyThatProtectsNothing(record, inputName(*key.pubkey));
        readMessage(options, messageText, blockLengthOf(record.bits), message);

        R_RANDOM_STRUCT pool;
        QV_R_RandomCreate(&pool);
        block.resize(MAX_RSA_MODULUS_LEN);
        std::uint32_t blockLen = 0;
        std::int32_t status =
            QV_RSAPublicEncrypt(block.data(), &blockLen, message.bytes.data(),
                                static_cast<std::uint32_t>(message.bytes.size()), &record, &pool);
        QV_R_RandomFinal(&pool);
        if (status != 0) failure("RSA encryption failed (status " + statusText(status) + ")");
        block.resize(blockLen);
    }
    writeBlock(block, raw, hex);
    return kExitOk;
}

int runRecover(const Args& args) {
    PublicKeyOptions key;
    bool raw = false;
    bool hex = false;
    Options options("rsa recover", kRsaHelp);
    key.declare(options);
    options.flag({"--raw"}, raw).flag({"--hex"}, hex);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(1);
    key.check(options);
    if (key.pubkey) refuseTwoReadersOfStandardInput(options, *key.pubkey, readsStandardInput(options));

    R_RSA_PUBLIC_KEY record;
    loadPublicKey(options, key, record);
    Bytes block = readBlock(options, raw, blockLengthOf(record.bits), "signature block");

    WipedBytes message;
    message.bytes.resize(MAX_RSA_MODULUS_LEN);
    std::uint32_t messageLen = 0;
    std::int32_t status = QV_RSAPublicDecrypt(message.bytes.data(), &messageLen, block.data(),
                                              static_cast<std::uint32_t>(block.size()), &record);
    if (status != 0) failure("recovery failed: not a signature under this key, or a damaged block");
    writeMessage(std::span(message.bytes).first(messageLen), hex);
    return kExitOk;
}

// decrypt and sign: the operations of the private key.
int runPrivate(const Args& args, bool sign) {
    std::optional<std::string> keyPath, messageText;
    PassphraseOptions passphraseOptions;
    bool raw = false;
    Options options(sign ? "rsa sign" : "rsa decrypt", kRsaHelp);
    bool hex = false;
    bool lines = false;
    options.value("--key", keyPath).flag({"--raw"}, raw).flag({"--hex"}, hex).flag({"--lines"}, lines);
    passphraseOptions.declare(options);
    if (sign) options.value("--message", messageText);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(messageText ? 0 : 1);
    if (!keyPath) options.fail("a private key is needed: --key FILE");
    if (sign) refuseTwoOutputFormats(options, raw, hex);
    checkLinesOptions(options, lines, raw, messageText.has_value());
    refuseTwoReadersOfStandardInput(options, *keyPath, !messageText && readsStandardInput(options));

    struct WipedKey {
        R_RSA_PRIVATE_KEY record;
        ~WipedKey() { secure_zero_object(record); }
    } key;
    PassphraseSource passphrase(passphraseOptions.file, passphraseOptions.environment);
    loadRsaPrivateKey(*keyPath, key.record, passphrase);
    std::size_t blockLength = blockLengthOf(key.record.bits);

    // A signature under such a key is checked with a public key that
    // protects nothing (anyone could make it), so none is made.
    if (sign)
        refuseKeyThatProtectsNothing(key.record.modulus, key.record.publicExponent, inputName(*keyPath));
    if (lines) {
        const v1::RsaPrivateKey privateKey = v1::RsaPrivateKey::fromRecord(key.record);
        return sign ? signLines(options.positional(), privateKey, hex)
                    : decryptLines(options.positional(), privateKey, hex);
    }

    if (sign) {
        WipedBytes message;
        readMessage(options, messageText, blockLength, message);
        Bytes block(MAX_RSA_MODULUS_LEN);
        std::uint32_t blockLen = 0;
        std::int32_t status =
            QV_RSAPrivateEncrypt(block.data(), &blockLen, message.bytes.data(),
                                 static_cast<std::uint32_t>(message.bytes.size()), &key.record);
        if (status != 0) failure("RSA signing failed (status " + statusText(status) + ")");
        block.resize(blockLen);
        writeBlock(block, raw, hex);
        return kExitOk;
    }

    Bytes block = readBlock(options, raw, blockLength, "encrypted block");
    WipedBytes message;
    message.bytes.resize(MAX_RSA_MODULUS_LEN);
    std::uint32_t messageLen = 0;
    std::int32_t status = QV_RSAPrivateDecrypt(message.bytes.data(), &messageLen, block.data(),
                                               static_cast<std::uint32_t>(block.size()), &key.record);
    if (status != 0) failure("decryption failed: wrong key or damaged block");
    writeMessage(std::span(message.bytes).first(messageLen), hex);
    return kExitOk;
}

}  // namespace

int runRsa(const Args& args) {
    if (args.empty())
        usageError(
            "needs an action: encrypt, decrypt, sign, recover, key or keygen (see corvane rsa --help)");
    const std::string& action = args[0];
    if (action == "--help" || action == "-h") {
        std::fputs(kRsaHelp, stdout);
        return kExitOk;
    }
    Args rest(args.begin() + 1, args.end());
    if (action == "encrypt") return runEncrypt(rest);
    if (action == "decrypt") return runPrivate(rest, false);
    if (action == "sign") return runPrivate(rest, true);
    if (action == "recover") return runRecover(rest);
    if (action == "key") return runRsaKey(rest);
    if (action == "keygen") return runRsaKeygen(rest);
    usageError("unknown action " + action + " (see corvane rsa --help)");
}

}  // namespace corvane::tool
