// QVGTMBase64: standard and web-safe Base64. Its results belong to the
// autorelease pool, so keep one in scope.
#include <Corvane/QVGTMBase64.h>

#include <cstdio>
#include <cstring>

using namespace corvane;

int main() {
    NSAutoreleasePool pool;
    const unsigned char bytes[] = {0xfb, 0xff, 0xbf, 0x00, 0x10};

    NSString* standard = QVGTMBase64::stringByEncodingBytes(bytes, sizeof bytes);
    NSString* webSafe = QVGTMBase64::stringByWebSafeEncodingBytes(bytes, sizeof bytes, /*padded=*/false);
    NSMutableData* back = QVGTMBase64::webSafeDecodeString(webSafe);
    NSMutableData* bad = QVGTMBase64::decodeString(NSString::stringWithUTF8String("not Base64!"));

    std::printf("standard: %s\nweb-safe: %s\ninvalid text gives %s\n", standard->UTF8String(),
                webSafe->UTF8String(), bad == nullptr ? "nil" : "an object");
    return std::strcmp(standard->UTF8String(), "+/+/ABA=") == 0 &&
                   std::strcmp(webSafe->UTF8String(), "-_-_ABA") == 0 && back != nullptr &&
                   back->length() == sizeof bytes && std::memcmp(back->bytes(), bytes, sizeof bytes) == 0 &&
                   bad == nullptr
               ? 0
               : 1;
}
