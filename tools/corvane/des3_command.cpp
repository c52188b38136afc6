// corvane des3 encrypt | decrypt | keygen: triple-DES in CBC mode with
// PKCS #7 padding through QVDes3.
#include <Corvane/QVDes3.h>

#include <cstdio>
#include <string>

#include "../../platform/secure_zero.h"
#include "base64_text.h"
#include "commands.h"
#include "hex.h"
#include "options.h"
#include "tool_error.h"

namespace corvane::tool {

namespace {

const char kHelp[] =
    "usage: corvane des3 encrypt (--key TEXT | --key-hex HEX) [--iv TEXT | --iv-hex HEX] [--raw] [FILE]\n"
    "       corvane des3 decrypt (--key TEXT | --key-hex HEX) [--iv TEXT | --iv-hex HEX] [--raw] [FILE]\n"
    "       corvane des3 keygen\n"
    "Triple-DES (three-key, 24 bytes) in CBC mode with PKCS #7 padding.\n"
    "\n"
    "encrypt: reads the bytes of FILE (standard input for none or \"-\") and\n"
    "writes the ciphertext in Base64 on one line, or as bytes with --raw.\n"
    "decrypt: reads Base64 (whitespace skipped), or bytes with --raw, and writes\n"
    "the plaintext's bytes.\n"
    "  --key TEXT, --key-hex HEX   the key: 1 to 24 bytes, a shorter key is\n"
    "                              extended with zero bytes\n"
    "  --iv TEXT, --iv-hex HEX     the initialisation vector: up to 8 bytes,\n"
    "                              extended with zero bytes; without one, the\n"
    "                              key's first 8 bytes serve as the IV\n"
    "keygen: prints a new key of 24 characters (0-9, A-F) for --key, drawn\n"
    "from the operating system's entropy source. Being text, it holds 96 bits\n"
    "of randomness; `openssl rand -hex 24` with --key-hex gives a full 192.\n"
    "\n"
    "Triple-DES, and the key used as IV, are kept for interoperability with\n"
    "existing peers, not recommended for new designs.\n"
    "Exit status: 0 success, 1 unreadable input, invalid Base64 or failed\n"
    "decryption (wrong key or damaged data), 2 usage error.\n";

constexpr std::size_t kKeyLength = 24;
constexpr std::size_t kIvLength = 8;

// Bytes of a key or IV given as text or as hexadecimal; wiped when done.
struct SecretBytes {
    Bytes bytes;
    ~SecretBytes() { secure_zero(bytes.data(), bytes.size()); }
};

// Reads "--NAME TEXT" or "--NAME-hex HEX" into out; false when neither was given.
bool secretOption(const Options& options, const std::string& name, const std::optional<std::string>& text,
                  const std::optional<std::string>& hex, std::size_t maxLength, SecretBytes& out) {
    if (text && hex) options.fail("give either --" + name + " or --" + name + "-hex, not both");
    if (!text && !hex) return false;
    if (text) {
        out.bytes.assign(text->begin(), text->end());
    } else {
        auto parsed = parseHexBytes(*hex);
        if (!parsed) options.fail("--" + name + "-hex needs an even number of hexadecimal digits");
        out.bytes = std::move(*parsed);
    }
    if (out.bytes.empty()) options.fail("the " + name + " is empty");
    // The class cuts longer values silently; refusing them here keeps a
    // mistyped key from being used in part.
    if (out.bytes.size() > maxLength)
        options.fail("the " + name + " has " + std::to_string(out.bytes.size()) + " bytes; at most " +
                     std::to_string(maxLength) + " are used");
    return true;
}

int runCipher(const Args& args, bool encrypt) {
    std::optional<std::string> keyText, keyHex, ivText, ivHex;
    bool raw = false;
    Options options(encrypt ? "des3 encrypt" : "des3 decrypt", kHelp);
    options.value("--key", keyText)
        .value("--key-hex", keyHex)
        .value("--iv", ivText)
        .value("--iv-hex", ivHex)
        .flag({"--raw"}, raw);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(1);
    SecretBytes key, iv;
    if (!secretOption(options, "key", keyText, keyHex, kKeyLength, key))
        options.fail("a key is needed: --key TEXT or --key-hex HEX");
    bool haveIv = secretOption(options, "iv", ivText, ivHex, kIvLength, iv);

    SecretBytes input;
    input.bytes = readInput(options.positional());
    if (!encrypt && !raw) {
        auto decoded = base64Decode(input.bytes, Base64Family::standard);
        if (!decoded) failure("input is not valid Base64 (use --raw for binary ciphertext)");
        input.bytes = std::move(*decoded);
    }

    Ref<NSData> data = make_ref<NSData>(input.bytes.data(), input.bytes.size());
    Ref<NSData> keyData = make_ref<NSData>(key.bytes.data(), key.bytes.size());
    Ref<NSData> ivData = haveIv ? make_ref<NSData>(iv.bytes.data(), iv.bytes.size()) : nullptr;
    if (!data || !keyData || (haveIv && !ivData)) failure("out of memory");
    std::int32_t error = 0;
    Ref<NSData> output = encrypt ? QVDes3::createDes3EncryptData(data.get(), keyData.get(), ivData.get(), &error)
                                 : QVDes3::createDes3DecryptData(data.get(), keyData.get(), ivData.get(), &error);
    if (!output) {
        if (encrypt) failure("encryption failed (status " + std::to_string(error) + ")");
        failure("decryption failed: wrong key or IV, or damaged data");
    }
    if (!encrypt || raw)
        writeBytes(output->span());
    else
        writeText(base64Encode(output->span(), Base64Family::standard) + "\n");
    return kExitOk;
}

int runKeygen(const Args& args) {
    Options options("des3 keygen", kHelp);
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
    if (args.empty()) usageError("needs an action: encrypt, decrypt or keygen (see corvane des3 --help)");
    const std::string& action = args[0];
    if (action == "--help" || action == "-h") {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    Args rest(args.begin() + 1, args.end());
    if (action == "encrypt") return runCipher(rest, true);
    if (action == "decrypt") return runCipher(rest, false);
    if (action == "keygen") return runKeygen(rest);
    usageError("unknown action " + action + " (see corvane des3 --help)");
}

}  // namespace corvane::tool
