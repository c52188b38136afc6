// The RSA block operations on key records: encrypt with the public key and
// decrypt with the private one (type 2 blocks), then the reverse direction
// (type 1 blocks, as a signature uses them).
#include <Corvane/r_random.h>
#include <Corvane/rsa.h>

#include <cstdio>
#include <cstring>

#include "tour_key.h"  // a published DEMONSTRATION key, never for real use

int main() {
    R_RSA_PUBLIC_KEY pub = tour::publicKey();
    R_RSA_PRIVATE_KEY priv = tour::privateKey();
    const unsigned char message[] = "twelve bytes";
    const uint32_t length = sizeof message - 1;

    R_RANDOM_STRUCT pool;
    QV_R_RandomCreate(&pool);
    unsigned char block[MAX_RSA_MODULUS_LEN], back[MAX_RSA_MODULUS_LEN];
    uint32_t blockLen = 0, backLen = 0;
    int32_t status = QV_RSAPublicEncrypt(block, &blockLen, message, length, &pub, &pool);
    if (status == 0) status = QV_RSAPrivateDecrypt(back, &backLen, block, blockLen, &priv);
    QV_R_RandomFinal(&pool);
    bool encrypted = status == 0 && backLen == length && std::memcmp(back, message, length) == 0;
    std::printf("public encrypt -> %u-byte block -> private decrypt: %s\n", blockLen,
                encrypted ? "ok" : "FAILED");

    status = QV_RSAPrivateEncrypt(block, &blockLen, message, length, &priv);
    if (status == 0) status = QV_RSAPublicDecrypt(back, &backLen, block, blockLen, &pub);
    bool signedBack = status == 0 && backLen == length && std::memcmp(back, message, length) == 0;
    std::printf("private encrypt -> public decrypt: %s\n", signedBack ? "ok" : "FAILED");

    // Too long for a 64-byte block: refused before anything is computed.
    unsigned char tooLong[54] = {0};
    std::printf("54-byte message: status 0x%x\n", static_cast<unsigned>(QV_RSAPrivateEncrypt(
                                                      block, &blockLen, tooLong, sizeof tooLong, &priv)));
    std::memset(&priv, 0, sizeof priv);
    return encrypted && signedBack ? 0 : 1;
}
