// The modern layer's MD5: one call, or a streaming object; no context record
// to manage. <Corvane/corvane.hpp> may share a file with <openssl/md5.h>.
#include <Corvane/corvane.hpp>
#include <cstdio>

namespace cv = corvane::v1;

int main() {
    cv::Md5::Digest oneShot = cv::md5("message digest");

    cv::Md5 hash;
    hash.update("message ").update(std::string("digest"));
    cv::Md5::Digest streamed = hash.finish();  // the object starts over

    std::printf("MD5(\"message digest\") = ");
    for (std::uint8_t b : oneShot) std::printf("%02x", b);
    std::printf("\n");
    const cv::Md5::Digest expected = {0xf9, 0x6b, 0x69, 0x7d, 0x7c, 0xb7, 0x93, 0x8d,
                                      0x52, 0x5a, 0x2f, 0x31, 0xaa, 0xf1, 0x61, 0xd0};
    return oneShot == expected && streamed == expected ? 0 : 1;
}
