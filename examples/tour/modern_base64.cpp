// The modern layer's Base64: strings and vectors in and out, alphabet and
// padding as parameters, no autorelease pool.
#include <Corvane/corvane.hpp>
#include <cstdio>
#include <vector>

namespace cv = corvane::v1;

int main() {
    const std::vector<std::uint8_t> bytes = {0xfb, 0xff, 0xbf, 0x00, 0x10};

    std::string standard = cv::base64Encode(bytes);  // standard alphabet, padded
    std::string webSafe = cv::base64Encode(bytes, cv::Base64Alphabet::webSafe, cv::Base64Padding::unpadded);
    std::vector<std::uint8_t> back =
        cv::base64Decode(webSafe, cv::Base64Alphabet::webSafe, cv::Base64Padding::unpadded);

    // Bad text throws; the error_code overload reports it instead.
    std::error_code error;
    cv::base64Decode("not Base64!", cv::Base64Alphabet::standard, cv::Base64Padding::padded, error);
    bool threw = false;
    try {
        cv::base64Decode("QQ");  // standard decoding demands padding
    } catch (const cv::Error& e) {
        threw = e.code() == corvane::ErrorCode::invalidInput;
    }

    std::printf("standard: %s\nweb-safe: %s\ninvalid text: %s\n", standard.c_str(), webSafe.c_str(),
                error.message().c_str());
    return standard == "+/+/ABA=" && webSafe == "-_-_ABA" && back == bytes && error && threw ? 0 : 1;
}
