// corvane rsa encrypt | decrypt | sign | recover | key | keygen: PKCS #1
// v1.5 blocks of both types through QVSimpleRSA and the block operations,
// with keys read by the library's key readers (moduli up to 1024 bits).
// User texts name options and formats, never the classes underneath.
#include <Corvane/QVSimpleRSA.h>
#include <Corvane/r_random.h>
#include <Corvane/rsa.h>

#include <Corvane/corvane.hpp>
#include <cstdio>
#include <string>

#include "platform/secure_zero.h"
#include "tools/corvane/commands/actions.h"
#include "tools/corvane/commands/commands.h"
#include "tools/corvane/commands/rsa/hex_number.h"
#include "tools/corvane/commands/rsa/rsa_commands.h"
#include "tools/corvane/commands/rsa/rsa_keys.h"
#include "tools/corvane/commands/rsa/rsa_lines.h"
#include "tools/corvane/io/base64_stream.h"
#include "tools/corvane/io/output_file.h"
#include "tools/corvane/io/terminal_output.h"
#include "tools/corvane/options/options.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

const char kRsaHelp[] =
    "usage: corvane rsa encrypt PUBLIC-KEY [--message TEXT | FILE] [--raw | --hex] [-o FILE]\n"
    "       corvane rsa decrypt --key FILE [PASSPHRASE] [--raw] [--hex] [-o FILE] [FILE]\n"
    "       corvane rsa sign --key FILE [PASSPHRASE] [--message TEXT | FILE] [--raw | --hex]\n"
    "                        [-o FILE]\n"
    "       corvane rsa recover PUBLIC-KEY [--raw] [--hex] [-o FILE] [FILE]\n"
    "       corvane rsa encrypt PUBLIC-KEY --lines [--hex] [FILE]\n"
    "       corvane rsa decrypt|sign --key FILE [PASSPHRASE] --lines [--hex] [-o FILE] [FILE]\n"
    "       corvane rsa key [--hex | --text] [--private] [--outform pem|der]\n"
    "                       [--pkcs1 | --pkcs8] [PASSPHRASE] [NEW-PASSPHRASE] [-o FILE] FILE\n"
    "       corvane rsa keygen [--bits N] --out FILE [--force] [NEW-PASSPHRASE]\n"
    "RSA with PKCS #1 v1.5 blocks and keys of up to 1024 bits.\n"
    "\n"
    "PUBLIC-KEY is --pubkey FILE or --modulus HEX --exponent HEX. A private key\n"
    "is --key FILE, PKCS #8 or PKCS #1, PEM or DER. PASSPHRASE, for an encrypted\n"
    "key file, is --passin-file FILE or --passin-env NAME, never the command line\n"
    "itself; without either, it is asked on the terminal (--passin-prompt).\n"
    "NEW-PASSPHRASE, for a key written encrypted, is --passout-file FILE,\n"
    "--passout-env NAME or --passout-prompt. A passphrase holds 1 to 1024\n"
    "bytes. An encrypted key whose passphrase derivation runs more than\n"
    "1000000 iterations is refused before the passphrase is asked for (a key\n"
    "file can ask for minutes of CPU); --max-iterations N sets another limit.\n"
    "Once an encrypted key is decrypted, whatever is wrong with it gets one\n"
    "message, \"the passphrase is wrong or the key file is damaged\", so that\n"
    "nobody learns anything from altered copies; damage that shows before\n"
    "decryption is named. Keys are read and checked before any input. Public keys\n"
    "that protect nothing are refused: an exponent of 0 or 1, an even exponent,\n"
    "an even modulus. Key files above 1 MiB and inputs above 64 KiB are refused.\n"
    "\n"
    "Secrets in memory: every buffer that held a private key, a passphrase or a\n"
    "decrypted message is wiped before it is freed, libcrypto's blocks included,\n"
    "and so are the standard streams' buffers once the command is done;\n"
    "core dumps and debugger attachment are off while the command runs. Not\n"
    "covered: swapped-out memory and the environment (see corvane(1)).\n"
    "\n"
    "decrypt --lines answers a block that does not decrypt with a substitute\n"
    "message (implicit rejection), so that its output tells the blocks' sender\n"
    "nothing; --report-bad-blocks, which does tell, builds a decryption oracle\n"
    "for whoever sees its answers (see corvane rsa decrypt --help).\n"
    "\n"
    "RSA of 1024 bits or less and PKCS #1 v1.5 padding are kept for\n"
    "interoperability with existing peers, not recommended for new designs.\n"
    "Exit status: 0 success, 1 unusable key, unreadable file, invalid input or\n"
    "failed operation, 2 usage error.\n";

namespace {

const std::string kEncryptHelp =
    std::string(
        "usage: corvane rsa encrypt PUBLIC-KEY [--message TEXT | FILE] [--raw | --hex] [--lines]\n"
        "                           [-o FILE]\n"
        "A block of type 2 (random filler) under the public key. The message is TEXT,\n"
        "or the bytes of FILE (standard input for none or \"-\"), at most the key's\n"
        "length in bytes less 11. The block is written in Base64 on one line, as\n"
        "bytes with --raw, or in lower-case hexadecimal with --hex. PUBLIC-KEY is\n"
        "--pubkey FILE or --modulus HEX --exponent HEX (a modulus of 512 to 1024\n"
        "bits: 128 to 256 digits); keys that protect nothing are refused (see\n"
        "corvane rsa --help).\n"
        "With --lines each line is a message (Base64, so that any bytes fit; an empty\n"
        "line is the empty message), and a --modulus key is taken at its true size,\n"
        "as key files are.\n"
        "With --lines, one item per line of FILE (standard input for none or \"-\"),\n"
        "in Base64, and one line out per line in, in order: the result in Base64, or\n"
        "in hexadecimal with --hex. A bad line gives the line \"error: WHAT\" in its\n"
        "place and a message naming its line number on standard error; the other\n"
        "lines go on, and the exit status is 1. Lines go 64 at a time to the\n"
        "library's batch calls, so memory stays bounded. A carriage return before a\n"
        "line feed is dropped; lines above 4096 bytes are bad.\n") +
    kOutputHelp;

const std::string kDecryptHelp =
    std::string(
        "usage: corvane rsa decrypt --key FILE [PASSPHRASE] [--raw] [--hex] [-o FILE] [FILE]\n"
        "       corvane rsa decrypt --key FILE [PASSPHRASE] --lines [--hex] [--report-bad-blocks]\n"
        "                           [-o FILE] [FILE]\n"
        "Takes the message out of one block made by encrypt, read in Base64\n"
        "(whitespace skipped), or as bytes with --raw, from FILE or standard input,\n"
        "and writes it (with --hex in lower-case hexadecimal on one line); a\n"
        "message that is not text is not written to a terminal (see -o).\n"
        "PASSPHRASE, for an encrypted key file, is --passin-file or --passin-env;\n"
        "without either, it is asked on the terminal.\n"
        "With --lines each line is a block (an empty line is a bad line) and each\n"
        "message is written in Base64, so that decrypt --lines feeds encrypt --lines.\n"
        "Otherwise --lines works as for encrypt (see corvane rsa encrypt --help).\n"
        "A block of the key's length that does not decrypt to a well-formed message\n"
        "(a wrong key, a damaged or forged block) gets a substitute message in its\n"
        "place: implicit rejection, the same for the same block, which no one\n"
        "without the key can tell from a real message (OpenSSL 3.2 and later give\n"
        "the same bytes). Only lines that anyone can judge are bad lines: not\n"
        "Base64, a wrong length, a value not below the modulus.\n"
        "--report-bad-blocks answers such a block with \"error: decryption failed:\n"
        "wrong key or damaged block\" instead. Forwarding those answers to whoever\n"
        "sent the blocks builds a decryption oracle: with some tens of thousands of\n"
        "altered copies of a captured block, they learn its message (Bleichenbacher's\n"
        "attack). Use it only where the answers stay with you; to answer senders of\n"
        "legacy envelopes, use corvane envelope open, which never tells.\n") +
    kOutputHelp;

const std::string kSignHelp =
    std::string(
        "usage: corvane rsa sign --key FILE [PASSPHRASE] [--message TEXT | FILE] [--raw | --hex]\n"
        "       [--lines] [-o FILE]\n"
        "A block of type 1 (0xFF filler) under the private key, what legacy peers\n"
        "call a signature: the same block as openssl pkeyutl -sign with no digest.\n"
        "Message and output as for encrypt. A key whose public half protects nothing\n"
        "is refused. PASSPHRASE as for decrypt. With --lines each line is a message\n"
        "(Base64; an empty line is the empty message).\n"
        "Otherwise --lines works as for encrypt (see corvane rsa encrypt --help).\n") +
    kOutputHelp;

const std::string kRecoverHelp =
    std::string(
        "usage: corvane rsa recover PUBLIC-KEY [--raw] [--hex] [-o FILE] [FILE]\n"
        "Takes the message back out of a block made by sign, as openssl pkeyutl\n"
        "-verifyrecover does; input and output as for decrypt. A block that is not a\n"
        "signature under the key fails. PUBLIC-KEY as for encrypt.\n") +
    kOutputHelp;

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
        options
            .value("--modulus", modulus,
                   {"the public key's modulus in hexadecimal (rsa key --hex prints it)", "HEX"})
            .value("--exponent", exponent, {"the public key's exponent in hexadecimal; goes with --modulus", "HEX"})
            .value("--pubkey", pubkey,
                   {"an RSA public key file, PEM or DER: \"PUBLIC KEY\", \"RSA PUBLIC KEY\", an X.509 "
                    "certificate, or a private key file, whose public half is used",
                    "FILE"});
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
        if (input.size() != blockLength && base64Decode(input, Base64Family::standard))
            failure("the input is Base64 text, and --raw reads a block's bytes: leave out --raw");
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

// What gives text instead of a binary block or message.
const char kLeaveOutRaw[] = "leave out --raw for Base64, the default";
const char kGiveHex[] = "the message is not text: give --hex for hexadecimal";

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
void writeMessage(const std::optional<std::string>& output, std::span<const std::uint8_t> message, bool hex) {
    if (!hex) {
        checkMessageOutput(output, message, kGiveHex);
        return writeBytes(message);
    }
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
        PassphraseSource passphrase = key.passphrase.source(options);
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
    Options options("rsa encrypt", kEncryptHelp);
    key.declare(options);
    bool hex = false;
    bool lines = false;
    options.value("--message", messageText, {"the message itself, instead of FILE", "TEXT"})
        .flag({"--raw"}, raw, "write the block as bytes rather than Base64")
        .flag({"--hex"}, hex, "write the block in lower-case hexadecimal on one line")
        .flag({"--lines"}, lines, "one message per line, in Base64; one block per line out (see --help)");
    std::optional<std::string> output;
    declareOutput(options, output);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(messageText ? 0 : 1);
    refuseTwoOutputFormats(options, raw, hex);
    checkBinaryOutput(output, raw, kLeaveOutRaw);
    checkLinesOptions(options, lines, raw, messageText.has_value());
    key.check(options);
    if (key.pubkey)
        refuseTwoReadersOfStandardInput(options, *key.pubkey, !messageText && readsStandardInput(options));
    if (lines) {
        R_RSA_PUBLIC_KEY record;
        loadPublicKey(options, key, record);
        return runWithOutput(output, [&] {
            return encryptLines(options.positional(), v1::RsaPublicKey::fromRecord(record), hex);
        });
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
            failure(status == -3 ? "out of memory" : "--modulus/--exponent: the key was refused");
        std::int32_t error = 0;
        Ref<NSData> encrypted = rsa->createEncryptData(
            message.bytes.data(), static_cast<std::int64_t>(message.bytes.size()), &error);
        if (!encrypted) failure("RSA encryption failed (status " + std::to_string(error) + ")");
        block.assign(encrypted->span().begin(), encrypted->span().end());
    } else {
        R_RSA_PUBLIC_KEY record;
        PassphraseSource passphrase = key.passphrase.source(options);
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
    return runWithOutput(output, [&] {
        writeBlock(block, raw, hex);
        return kExitOk;
    });
}

int runRecover(const Args& args) {
    PublicKeyOptions key;
    bool raw = false;
    bool hex = false;
    Options options("rsa recover", kRecoverHelp);
    key.declare(options);
    options.flag({"--raw"}, raw, "read the block as bytes rather than Base64")
        .flag({"--hex"}, hex, "write the message in lower-case hexadecimal on one line");
    std::optional<std::string> output;
    declareOutput(options, output);
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
    return runWithOutput(output, [&] {
        writeMessage(output, std::span(message.bytes).first(messageLen), hex);
        return kExitOk;
    });
}

// decrypt and sign: the operations of the private key.
int runPrivate(const Args& args, bool sign) {
    std::optional<std::string> keyPath, messageText;
    PassphraseOptions passphraseOptions;
    bool raw = false;
    Options options(sign ? "rsa sign" : "rsa decrypt", sign ? kSignHelp : kDecryptHelp);
    bool hex = false;
    bool lines = false;
    bool reportBadBlocks = false;
    options.value("--key", keyPath, {"the private key, PKCS #8 or PKCS #1, PEM or DER, plain or encrypted", "FILE"})
        .flag({"--raw"}, raw,
              sign ? "write the block as bytes rather than Base64" : "read the block as bytes rather than Base64")
        .flag({"--hex"}, hex,
              sign ? "write the block in lower-case hexadecimal on one line"
                   : "write the message in lower-case hexadecimal on one line")
        .flag({"--lines"}, lines,
              sign ? "one message per line, in Base64; one block per line out (see --help)"
                   : "one Base64 block per line; one message per line out, in Base64 (see --help)");
    passphraseOptions.declare(options);
    if (sign) options.value("--message", messageText, {"the message itself, instead of FILE", "TEXT"});
    if (!sign)
        options.flag({"--report-bad-blocks"}, reportBadBlocks,
                     "with --lines: answer a block that does not decrypt with an error line rather than a "
                     "substitute; never forward those answers to the blocks' sender (see --help)");
    std::optional<std::string> output;
    declareOutput(options, output);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(messageText ? 0 : 1);
    if (!keyPath) options.fail("a private key is needed: --key FILE");
    if (sign) refuseTwoOutputFormats(options, raw, hex);
    if (sign) checkBinaryOutput(output, raw, kLeaveOutRaw);
    checkLinesOptions(options, lines, raw, messageText.has_value());
    if (reportBadBlocks && !lines)
        options.fail("--report-bad-blocks goes with --lines (a single block's failure is always reported)");
    refuseTwoReadersOfStandardInput(options, *keyPath, !messageText && readsStandardInput(options));

    struct WipedKey {
        R_RSA_PRIVATE_KEY record;
        ~WipedKey() { secure_zero_object(record); }
    } key;
    PassphraseSource passphrase = passphraseOptions.source(options);
    loadRsaPrivateKey(*keyPath, key.record, passphrase);
    std::size_t blockLength = blockLengthOf(key.record.bits);

    // A signature under such a key is checked with a public key that
    // protects nothing (anyone could make it), so none is made.
    if (sign)
        refuseKeyThatProtectsNothing(key.record.modulus, key.record.publicExponent, inputName(*keyPath));
    return runWithOutput(output, [&] {
        if (lines) {
            const v1::RsaPrivateKey privateKey = v1::RsaPrivateKey::fromRecord(key.record);
            return sign ? signLines(options.positional(), privateKey, hex)
                        : decryptLines(options.positional(), privateKey, hex,
                                       reportBadBlocks ? DecryptLineAnswers::reportBadBlocks
                                                       : DecryptLineAnswers::implicitRejection);
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
        writeMessage(output, std::span(message.bytes).first(messageLen), hex);
        return kExitOk;
    });
}

}  // namespace

int runRsa(const Args& args) {
    static const Action actions[] = {
        {"encrypt", runEncrypt, "a block of type 2 under a public key"},
        {"decrypt", [](const Args& rest) { return runPrivate(rest, false); }, "the message of a block made by encrypt"},
        {"sign", [](const Args& rest) { return runPrivate(rest, true); }, "a block of type 1 under a private key"},
        {"recover", runRecover, "the message of a block made by sign"},
        {"key", runRsaKey, "a key's public or private half, as PEM, DER, hex or fields"},
        {"keygen", runRsaKeygen, "a new key pair"},
    };
    return runAction("rsa", actions, kRsaHelp, args);
}

}  // namespace corvane::tool
