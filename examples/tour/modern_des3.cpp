// The modern layer's triple DES: byte views in, vectors out. Give an IV
// where the peer allows; without one the key's first 8 bytes serve.
#include <Corvane/corvane.hpp>
#include <cstdio>
#include <string>

namespace cv = corvane::v1;

int main() {
    std::vector<std::uint8_t> key = cv::des3RandomKey();  // 24 hexadecimal characters
    const std::string iv = "8 bytes!";
    std::vector<std::uint8_t> sealed = cv::des3Encrypt("sixteen bytes!!!", key, iv);
    std::vector<std::uint8_t> opened = cv::des3Decrypt(sealed, key, iv);

    // A wrong key most often leaves invalid padding: an expected outcome.
    std::error_code error;
    cv::des3Decrypt(sealed, "another key of 24 bytes!", iv, error);

    std::printf("key %.24s: 16 bytes -> %zu bytes -> \"%.*s\"; wrong key: %s\n",
                reinterpret_cast<const char*>(key.data()), sealed.size(), static_cast<int>(opened.size()),
                reinterpret_cast<const char*>(opened.data()), error ? error.message().c_str() : "no error");
    return sealed.size() == 24 && std::string(opened.begin(), opened.end()) == "sixteen bytes!!!" ? 0 : 1;
}
