// QVSimpleRSA: the typical request. Set a public key as hexadecimal text,
// encrypt a short message; the holder of the private key decrypts it.
#include <Corvane/QVSimpleRSA.h>
#include <Corvane/keys.h>

#include <cstdio>
#include <cstring>

#include "tour_key.h"  // a published DEMONSTRATION key, never for real use

using namespace corvane;

int main() {
    // The public key as the two hexadecimal texts the class takes.
    RsaHexKey hex;
    if (rsaPublicKeyToHex(tour::publicKey(), hex)) return 1;
    Ref<QVSimpleRSA> rsa = make_ref<QVSimpleRSA>();
    if (!rsa || rsa->setPublicKey(hex.modulus.c_str(), hex.exponent.c_str()) != 0) return 1;

    std::int32_t error = 0;
    Ref<NSData> block = rsa->createEncryptData("hello, peer", &error);  // new object: the Ref owns it
    if (!block) {
        std::printf("encryption failed: %d\n", error);
        return 1;
    }
    std::printf("encrypted %zu bytes (error %d)\n", static_cast<std::size_t>(block->length()), error);

    // The peer's side, with the block operation and the private key.
    R_RSA_PRIVATE_KEY priv = tour::privateKey();
    unsigned char message[MAX_RSA_MODULUS_LEN];
    std::uint32_t length = 0;
    std::int32_t status =
        QV_RSAPrivateDecrypt(message, &length, static_cast<const unsigned char*>(block->bytes()),
                             static_cast<std::uint32_t>(block->length()), &priv);
    std::memset(&priv, 0, sizeof priv);
    std::printf("decrypted: \"%.*s\"\n", static_cast<int>(length), reinterpret_cast<const char*>(message));
    return status == 0 && length == 11 && std::memcmp(message, "hello, peer", 11) == 0 ? 0 : 1;
}
