// Arbitrary key texts and messages through QVSimpleRSA: the input is split
// into a modulus text, an exponent text and a message. Whatever the texts
// hold, setting the key and encrypting must not crash, overrun or leak, and
// an accepted encryption is one block of the recorded key size.
#include <Corvane/QVSimpleRSA.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace corvane;

namespace {

// Takes the next piece of the input: a length byte, then that many bytes.
std::string take(const std::uint8_t*& data, std::size_t& size) {
    if (size == 0) return {};
    std::size_t n = data[0];
    data++;
    size--;
    // Lengths above 255 are reached by doubling, so texts can exceed a field.
    if (n >= 200) n = (n - 200) * 8;
    if (n > size) n = size;
    std::string piece(reinterpret_cast<const char*>(data), n);
    data += n;
    size -= n;
    return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string modulus = take(data, size);
    std::string exponent = take(data, size);
    std::string message(reinterpret_cast<const char*>(data), size);

    auto rsa = make_ref<QVSimpleRSA>();
    if (!rsa) return 0;
    std::int32_t status = rsa->setPublicKey(modulus.c_str(), exponent.c_str());
    if (status != 0 && status != -2) std::abort();
    std::int32_t err = 1;
    Ref<NSData> block = rsa->createEncryptData(message.data(), std::int64_t(message.size()), &err);
    if (block) {
        std::size_t blockLen = (rsa->_publicKey->bits + 7u) / 8u;
        if (err != 0 || block->length() != blockLen) std::abort();
    } else if (err != -2 && err != -6) {
        std::abort();
    }

    // The conversion on its own, with the raw text and odd or long counts.
    unsigned char area[8 + 2];
    std::memset(area, 0xEE, sizeof area);
    rsa->valueChange(area + 1, 8, modulus.data(), std::int32_t(modulus.size()));
    if (area[0] != 0xEE || area[9] != 0xEE) std::abort();
    return 0;
}
