// corvane demo: the typical request end to end. A QVSimpleRSA object takes
// the demonstration public key as hexadecimal text and encrypts a message;
// the block is shown in Base64 and decrypted with the matching private key
// through the block operations; then triple-DES and Base64 round trips.
// Exit status 0 only when every round trip gives back what went in.
#include <Corvane/QVDes3.h>
#include <Corvane/QVGTMBase64.h>
#include <Corvane/QVSimpleRSA.h>
#include <Corvane/keys.h>
#include <Corvane/rsa.h>

#include <Corvane/corvane.hpp>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/secure_zero.h"
#include "tools/corvane/commands/commands.h"
#include "tools/corvane/commands/demo_key.h"
#include "tools/corvane/io/base64_stream.h"
#include "tools/corvane/options/options.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

namespace {

const char kHelp[] =
    "usage: corvane demo\n"
    "Runs the library's typical request end to end on a built-in 512-bit\n"
    "DEMONSTRATION key pair (published, so it protects nothing; never use it\n"
    "for real data): sets the public key from its hexadecimal texts, encrypts a\n"
    "message, shows the block in Base64, decrypts it with the private key, then\n"
    "shows triple-DES and Base64 round trips.\n"
    "Exit status: 0 when every round trip matched, 1 otherwise.\n";

constexpr std::string_view kMessage = "Meet me at the old mill at noon.";

// The demonstration key through the library's key reader.
void demoPrivateKey(R_RSA_PRIVATE_KEY& key) {
    if (!corvane::loadRsaPrivateKey(std::string_view(demo_key::kPrivateKeyPem), key))
        failure("the built-in demonstration key is damaged");
}

std::string text(std::span<const std::uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

bool report(const char* step, bool matched) {
    std::printf("  %-44s %s\n", step, matched ? "matched" : "MISMATCH");
    return matched;
}

bool rsaRoundTrip() {
    std::printf("RSA (512-bit demonstration key, PKCS #1 v1.5)\n");
    R_RSA_PRIVATE_KEY key;
    demoPrivateKey(key);
    // The public half as the hexadecimal texts QVSimpleRSA takes.
    R_RSA_PUBLIC_KEY publicKey{};
    publicKey.bits = key.bits;
    std::memcpy(publicKey.modulus, key.modulus, sizeof key.modulus);
    std::memcpy(publicKey.exponent, key.publicExponent, sizeof key.publicExponent);
    RsaHexKey hex;
    if (corvane::rsaPublicKeyToHex(publicKey, hex)) failure("the built-in demonstration key is damaged");

    Ref<QVSimpleRSA> rsa = make_ref<QVSimpleRSA>();
    if (!rsa) failure("out of memory");
    std::int32_t status = rsa->setPublicKey(hex.modulus.c_str(), hex.exponent.c_str());
    std::printf("  public key set from its hexadecimal texts (status %d)\n", static_cast<int>(status));
    if (status != 0) {
        secure_zero_object(key);
        return report("public key accepted", false);
    }

    std::string message(kMessage);
    std::int32_t error = 0;
    Ref<NSData> block = rsa->createEncryptData(message.c_str(), &error);
    std::printf("  message:   \"%s\" (%zu bytes)\n", message.c_str(), message.size());
    if (!block) {
        secure_zero_object(key);
        std::printf("  encryption failed, error %d\n", static_cast<int>(error));
        return report("encryption", false);
    }
    std::printf("  encrypted: %zu bytes, Base64:\n    %s\n", static_cast<std::size_t>(block->length()),
                base64Encode(block->span(), Base64Family::standard).c_str());

    unsigned char recovered[MAX_RSA_MODULUS_LEN];
    std::uint32_t recoveredLen = 0;
    std::int32_t decryptStatus =
        QV_RSAPrivateDecrypt(recovered, &recoveredLen, static_cast<const unsigned char*>(block->bytes()),
                             static_cast<std::uint32_t>(block->length()), &key);
    secure_zero_object(key);
    bool ok = decryptStatus == 0 &&
              std::string_view(reinterpret_cast<const char*>(recovered), recoveredLen) == kMessage;
    if (decryptStatus == 0)
        std::printf("  decrypted: \"%.*s\"\n", static_cast<int>(recoveredLen),
                    reinterpret_cast<const char*>(recovered));
    else
        std::printf("  decryption failed with status 0x%04x\n",
                    static_cast<unsigned>(decryptStatus));
    secure_zero(recovered, sizeof recovered);
    return report("RSA encrypt, then decrypt", ok);
}

bool des3RoundTrip() {
    std::printf("Triple-DES (CBC, PKCS #7 padding; the key's first 8 bytes as IV)\n");
    Ref<NSData> key = QVDes3::createRandomDes3Key();
    Ref<NSData> plain = make_ref<NSData>(kMessage.data(), kMessage.size());
    if (!key || !plain) failure("out of memory");
    std::printf("  key:       %s (a new random key, as 24 hexadecimal characters)\n", text(key->span()).c_str());
    std::int32_t error = 0;
    Ref<NSData> sealed = QVDes3::createDes3EncryptData(plain.get(), key.get(), nullptr, &error);
    if (!sealed) {
        std::printf("  encryption failed, error %d\n", static_cast<int>(error));
        return report("triple-DES encrypt, then decrypt", false);
    }
    std::printf("  encrypted: %zu bytes, Base64:\n    %s\n", static_cast<std::size_t>(sealed->length()),
                base64Encode(sealed->span(), Base64Family::standard).c_str());
    Ref<NSData> opened = QVDes3::createDes3DecryptData(sealed.get(), key.get(), nullptr, &error);
    bool ok = opened && text(opened->span()) == kMessage;
    if (opened) std::printf("  decrypted: \"%s\"\n", text(opened->span()).c_str());
    return report("triple-DES encrypt, then decrypt", ok);
}

bool base64RoundTrips() {
    std::printf("Base64 (standard and web-safe alphabets)\n");
    // Bytes chosen so that the two alphabets differ in the text.
    const std::uint8_t sample[] = {0xfb, 0xef, 0xbe, 0xff, 0x3e, 0x3f, 0x01};
    bool allOk = true;
    struct Case {
        const char* name;
        Base64Family family;
        bool padded;
    };
    for (const Case& c : {Case{"standard", Base64Family::standard, true},
                          Case{"web-safe, padded", Base64Family::webSafe, true},
                          Case{"web-safe, unpadded", Base64Family::webSafe, false}}) {
        std::string encoded = base64Encode(sample, c.family, c.padded);
        auto decoded = base64Decode(
            std::span(reinterpret_cast<const std::uint8_t*>(encoded.data()), encoded.size()), c.family);
        bool ok = decoded && Bytes(std::begin(sample), std::end(sample)) == *decoded;
        std::printf("  %-19s %-12s (%s)\n", c.name, encoded.c_str(), v1::hexEncode(sample).c_str());
        allOk = report((std::string(c.name) + " encode, then decode").c_str(), ok) && allOk;
    }
    return allOk;
}

}  // namespace

int runDemo(const Args& args) {
    Options options("demo", kHelp);
    if (!options.parse(args)) return kExitOk;
    options.allowAtMostPositional(0);

    std::printf(
        "Corvane demonstration. The RSA key pair below is a published DEMONSTRATION\n"
        "key: it protects nothing and must never be used for real data.\n\n");
    bool ok = rsaRoundTrip();
    std::printf("\n");
    ok = des3RoundTrip() && ok;
    std::printf("\n");
    ok = base64RoundTrips() && ok;
    std::printf("\n%s\n", ok ? "All round trips matched." : "A round trip FAILED.");
    if (!ok) failure("a round trip did not give back its input");
    return kExitOk;
}

}  // namespace corvane::tool
