// The key readers and writers of <Corvane/keys.h>: a PEM private key into
// the CRT record, its public half out as PEM and as the hexadecimal texts
// QVSimpleRSA takes, and back in again.
#include <Corvane/keys.h>

#include <cstdio>
#include <cstring>

#include "tour_key.h"  // a published DEMONSTRATION key, never for real use

int main() {
    R_RSA_PRIVATE_KEY priv;
    corvane::KeyStatus status = corvane::loadRsaPrivateKey(tour::kDemoKeyPem, priv);
    if (!status) {
        std::printf("refused: %s\n", status.error.message().c_str());
        return 1;
    }
    std::printf("private key: %u bits\n", priv.bits);

    R_RSA_PUBLIC_KEY pub = tour::publicKey();
    std::string pem;
    corvane::RsaHexKey hex;
    if (corvane::rsaPublicKeyToPem(pub, pem) || corvane::rsaPublicKeyToHex(pub, hex)) return 1;
    std::printf("%sexponent %s, modulus %.16s...\n", pem.c_str(), hex.exponent.c_str(), hex.modulus.c_str());

    R_RSA_PUBLIC_KEY fromPem, fromHex;
    bool same = corvane::loadRsaPublicKey(pem, fromPem) &&
                corvane::rsaPublicKeyFromHex(hex.modulus, hex.exponent, fromHex) &&
                std::memcmp(&fromPem, &pub, sizeof pub) == 0 && std::memcmp(&fromHex, &pub, sizeof pub) == 0;

    // An encrypted key needs its passphrase; without one it is refused.
    std::string locked;
    if (corvane::rsaPrivateKeyToPem(priv, locked, corvane::RsaKeyFormat::standard, "correct horse")) return 1;
    R_RSA_PRIVATE_KEY again;
    corvane::KeyStatus noPassphrase = corvane::loadRsaPrivateKey(locked, again);
    corvane::KeyStatus withPassphrase = corvane::loadRsaPrivateKey(locked, again, "correct horse");
    std::printf("encrypted key without passphrase: %s\n", noPassphrase.error.message().c_str());
    bool unlocked = withPassphrase && std::memcmp(&again, &priv, sizeof priv) == 0;

    std::memset(&priv, 0, sizeof priv);  // the caller wipes private records
    std::memset(&again, 0, sizeof again);
    return same && unlocked && noPassphrase.error == corvane::ErrorCode::keyEncrypted ? 0 : 1;
}
