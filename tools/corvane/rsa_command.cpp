// corvane rsa encrypt | decrypt: PKCS #1 v1.5 type 2 blocks, either through
// QVSimpleRSA with a hexadecimal public key, or through the block
// operations with key files read by OpenSSL (moduli up to 1024 bits).
#include <Corvane/QVSimpleRSA.h>
#include <Corvane/r_random.h>
#include <Corvane/rsa.h>

#include <cstdio>
#include <string>

#include "../../platform/secure_zero.h"
#include "base64_stream.h"
#include "commands.h"
#include "hex.h"
#include "options.h"
#include "rsa_keys.h"
#include "tool_error.h"

namespace corvane::tool {

namespace {

const char kHelp[] =
    "usage: corvane rsa encrypt (--modulus HEX --exponent HEX | --pubkey FILE)\n"
    "                           [--message TEXT | FILE] [--raw]\n"
    "       corvane rsa decrypt --key FILE [--raw] [FILE]\n"
    "RSA encryption with PKCS #1 v1.5 padding (block type 2, random filler).\n"
    "\n"
    "encrypt: the message is TEXT, or the bytes of FILE (standard input for none\n"
    "or \"-\"); it may be at most the key's length in bytes less 11. The block\n"
    "is written in Base64 on one line, or as bytes with --raw.\n"
    "  --modulus HEX --exponent HEX   the public key as hexadecimal numbers (a\n"
    "                                 modulus of 512 to 1024 bits: 128 to 256\n"
    "                                 digits), used through QVSimpleRSA\n"
    "  --pubkey FILE                  an RSA public key file, PEM or DER\n"
    "                                 (\"PUBLIC KEY\", \"RSA PUBLIC KEY\" or an\n"
    "                                 X.509 certificate), of up to 1024 bits\n"
    "decrypt: reads one block in Base64 (whitespace skipped), or as bytes with\n"
    "--raw, from FILE or standard input, and writes the message's bytes.\n"
    "  --key FILE                     an unencrypted RSA private key, PEM or DER,\n"
    "                                 of up to 1024 bits\n"
    "\n"
    "RSA of 1024 bits or less and PKCS #1 v1.5 encryption are kept for\n"
    "interoperability with existing peers, not recommended for new designs.\n"
    "Exit status: 0 success, 1 unusable key, unreadable file, invalid input or\n"
    "failed operation, 2 usage error.\n";

// QVSimpleRSA records moduli of up to 64 bytes as 512 bits: 64-byte blocks.
constexpr std::size_t kSimpleRsaBlockLength = 64;
constexpr std::size_t kPaddingOverhead = 11;

// Bytes that hold a message or a decrypted block; wiped when done.
struct WipedBytes {
    Bytes bytes;
    ~WipedBytes() { secure_zero(bytes.data(), bytes.size()); }
};

void checkMessageLength(std::size_t length, std::size_t blockLength) {
    std::size_t limit = blockLength - kPaddingOverhead;
    if (length > limit)
        failure("message too long: " + std::to_string(length) + " bytes; at most " + std::to_string(limit) +
                " fit a " + std::to_string(blockLength * 8) + "-bit key");
}

Bytes encryptWithHexKey(const std::string& modulusText, const std::string& exponentText, const Bytes& message,
                        const Options& options) {
    auto modulus = canonicalHexNumber(modulusText);
    if (!modulus) options.fail("--modulus is not a hexadecimal number");
    auto exponent = canonicalHexNumber(exponentText);
    if (!exponent) options.fail("--exponent is not a hexadecimal number");
    // The class records moduli of up to 64 bytes as 512 bits, so those pad
    // to 64-byte blocks and only a modulus of exactly 64 significant bytes
    // gives a usable encryption; longer moduli (up to 1024 bits) are
    // recorded with their own size, and their blocks are as long as they.
    std::size_t modulusBytes = modulus->size() / 2;
    if (modulusBytes < kSimpleRsaBlockLength || modulusBytes > MAX_RSA_MODULUS_LEN)
        failure(
            "the --modulus form takes moduli of 512 to 1024 bits (128 to 256 hexadecimal digits); this one "
            "has " +
            std::to_string(modulusBytes) + " bytes");
    if (exponent->empty()) failure("the exponent is zero");
    if (exponent->size() > modulus->size()) failure("the exponent is longer than the modulus");
    checkMessageLength(message.size(), modulusBytes);

    Ref<QVSimpleRSA> rsa = make_ref<QVSimpleRSA>();
    if (!rsa) failure("out of memory");
    if (std::int32_t status = rsa->setPublicKey(modulus->c_str(), exponent->c_str()); status != 0)
        failure("QVSimpleRSA refused the key (status " + std::to_string(status) + ")");
    std::int32_t error = 0;
    Ref<NSData> block =
        rsa->createEncryptData(message.data(), static_cast<std::int64_t>(message.size()), &error);
    if (!block) failure("RSA encryption failed (status " + std::to_string(error) + ")");
    auto view = block->span();
    return Bytes(view.begin(), view.end());
}

Bytes encryptWithKeyFile(const std::string& path, const Bytes& message) {
    R_RSA_PUBLIC_KEY key;
    loadRsaPublicKey(path, key);
    std::size_t blockLength = (key.bits + 7u) / 8u;
    checkMessageLength(message.size(), blockLength);

    R_RANDOM_STRUCT pool;
    QV_R_RandomCreate(&pool);
    Bytes block(MAX_RSA_MODULUS_LEN);
    std::uint32_t blockLen = 0;
    std::int32_t status = QV_RSAPublicEncrypt(block.data(), &blockLen, message.data(),
                                              static_cast<std::uint32_t>(message.size()), &key, &pool);
    QV_R_RandomFinal(&pool);
    if (status != 0) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%04x", static_cast<unsigned>(status));
        failure(std::string("RSA encryption failed (status ") + code + ")");
    }
    block.resize(blockLen);
    return block;
}

int runEncrypt(const Args& args) {
    std::optional<std::string> modulus, exponent, pubkey, messageText;
    bool raw = false;
    Options options("rsa encrypt", kHelp);
    options.value("--modulus", modulus)
        .value("--exponent", exponent)
        .value("--pubkey", pubkey)
        .value("--message", messageText)
        .flag({"--raw"}, raw);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(messageText ? 0 : 1);
    bool hexKey = modulus || exponent;
    if (hexKey && pubkey) options.fail("give either --modulus/--exponent or --pubkey, not both");
    if (!hexKey && !pubkey) options.fail("a key is needed: --modulus HEX --exponent HEX, or --pubkey FILE");
    if (hexKey && (!modulus || !exponent)) options.fail("--modulus and --exponent go together");

    WipedBytes message;
    message.bytes =
        messageText ? Bytes(messageText->begin(), messageText->end()) : readInput(options.positional());
    Bytes block = hexKey ? encryptWithHexKey(*modulus, *exponent, message.bytes, options)
                         : encryptWithKeyFile(*pubkey, message.bytes);
    if (raw)
        writeBytes(block);
    else
        writeText(base64Encode(block, Base64Family::standard) + "\n");
    return kExitOk;
}

int runDecrypt(const Args& args) {
    std::optional<std::string> keyPath;
    bool raw = false;
    Options options("rsa decrypt", kHelp);
    options.value("--key", keyPath).flag({"--raw"}, raw);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(1);
    if (!keyPath) options.fail("a private key is needed: --key FILE");

    Bytes input = readInput(options.positional());
    Bytes block;
    if (raw) {
        block = std::move(input);
    } else {
        auto decoded = base64Decode(input, Base64Family::standard);
        if (!decoded) failure("input is not valid Base64 (use --raw for a binary block)");
        block = std::move(*decoded);
    }

    R_RSA_PRIVATE_KEY key;
    loadRsaPrivateKey(*keyPath, key);
    std::size_t blockLength = (key.bits + 7u) / 8u;
    if (block.size() != blockLength) {
        secure_zero_object(key);
        failure("the encrypted block has " + std::to_string(block.size()) +
                " bytes; this key's blocks have " + std::to_string(blockLength));
    }
    WipedBytes message;
    message.bytes.resize(MAX_RSA_MODULUS_LEN);
    std::uint32_t messageLen = 0;
    std::int32_t status = QV_RSAPrivateDecrypt(message.bytes.data(), &messageLen, block.data(),
                                               static_cast<std::uint32_t>(block.size()), &key);
    secure_zero_object(key);
    if (status != 0) failure("decryption failed: wrong key or damaged block");
    writeBytes(std::span(message.bytes).first(messageLen));
    return kExitOk;
}

}  // namespace

int runRsa(const Args& args) {
    if (args.empty()) usageError("needs an action: encrypt or decrypt (see corvane rsa --help)");
    const std::string& action = args[0];
    if (action == "--help" || action == "-h") {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    Args rest(args.begin() + 1, args.end());
    if (action == "encrypt") return runEncrypt(rest);
    if (action == "decrypt") return runDecrypt(rest);
    usageError("unknown action " + action + " (see corvane rsa --help)");
}

}  // namespace corvane::tool
