// QVDes3: triple-DES CBC with PKCS #7 padding. Without an IV the key's first
// 8 bytes serve as one, as existing peers expect.
#include <Corvane/QVDes3.h>

#include <cstdio>
#include <cstring>

using namespace corvane;

int main() {
    Ref<NSData> key = QVDes3::createRandomDes3Key();  // 24 hexadecimal characters
    const char text[] = "sixteen bytes!!!";
    Ref<NSData> plain = make_ref<NSData>(text, std::strlen(text));

    std::int32_t error = 0;
    Ref<NSData> sealed = QVDes3::createDes3EncryptData(plain.get(), key.get(), nullptr, &error);
    if (!sealed) return 1;
    Ref<NSData> opened = QVDes3::createDes3DecryptData(sealed.get(), key.get(), nullptr, &error);
    if (!opened) return 1;

    std::printf("key %.24s: %zu bytes -> %zu bytes -> \"%.*s\"\n", static_cast<const char*>(key->bytes()),
                std::strlen(text), static_cast<std::size_t>(sealed->length()),
                static_cast<int>(opened->length()), static_cast<const char*>(opened->bytes()));
    // 16 bytes of input take a whole block of padding: 24 bytes out.
    return sealed->length() == 24 && opened->length() == plain->length() &&
                   std::memcmp(opened->bytes(), plain->bytes(), plain->length()) == 0
               ? 0
               : 1;
}
