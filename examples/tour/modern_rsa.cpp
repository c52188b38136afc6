// The modern layer's RSA: key objects read from PEM (they wipe themselves),
// encryption and decryption, a type-1 block and its recovery, and failures
// as exceptions or as error codes.
#include <Corvane/corvane.hpp>
#include <cstdio>
#include <string>

#include "tour_key.h"  // a published DEMONSTRATION key, never for real use

namespace cv = corvane::v1;

int main() {
    try {
        cv::RsaPrivateKey priv = cv::RsaPrivateKey::fromEncoded(tour::kDemoKeyPem);
        cv::RsaPublicKey pub = priv.publicKey();  // or RsaPublicKey::fromFile("peer.pem")

        std::vector<std::uint8_t> block = pub.encrypt("hello, peer");
        std::vector<std::uint8_t> message = priv.decrypt(block);
        std::printf("%zu-byte block -> \"%.*s\"\n", block.size(), static_cast<int>(message.size()),
                    reinterpret_cast<const char*>(message.data()));

        std::vector<std::uint8_t> signature = priv.sign("signed text");
        std::vector<std::uint8_t> recovered = pub.recover(signature);

        // A damaged block is an expected outcome: the error_code overload.
        block[10] ^= 1;
        std::error_code error;
        priv.decrypt(block, error);
        std::printf("damaged block: %s\n", error.message().c_str());

        // The public key as hexadecimal texts and PEM, for peers that want them.
        corvane::RsaHexKey hex = pub.toHex();
        bool sameKey = cv::RsaPublicKey::fromHex(hex.modulus, hex.exponent).toPem() == pub.toPem();

        return std::string(message.begin(), message.end()) == "hello, peer" &&
                       std::string(recovered.begin(), recovered.end()) == "signed text" &&
                       error == corvane::ErrorCode::badData && sameKey
                   ? 0
                   : 1;
    } catch (const cv::Error& e) {
        std::printf("failed: %s\n", e.what());
        return 1;
    }
}
