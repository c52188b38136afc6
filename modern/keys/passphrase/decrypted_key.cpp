#include "modern/keys/passphrase/decrypted_key.h"

#include <algorithm>

#include "modern/keys/checks.h"
#include "modern/keys/der_structures.h"
#include "modern/keys/record.h"
#include "modern/support/pkcs7_padding.h"
#include "platform/secure_zero.h"

namespace corvane::detail {

namespace {

// The length of the DER object at the front of bytes, header included, or
// 0 when its header is broken or it runs past the end.
std::size_t objectLength(Bytes bytes) noexcept {
    DerFault fault;
    DerReader reader(bytes, fault);
    std::uint8_t tag = 0;
    Bytes contents, encoding;
    return reader.readAny(tag, contents, encoding) ? encoding.size() : 0;
}

// A record to run the checks on when the decrypted bytes gave none: of the
// modulus size an encoding of this length holds (so the checks cost what
// they cost on a real key of that size), filled from a fixed pattern (so
// their time owes nothing to the plaintext). A PKCS #1 encoding of a key
// with an L-byte modulus takes about 4.5 L + 34 bytes, PKCS #8 26 more;
// the padding adds up to a block, so the estimate is within 4 bytes, and
// is taken to the nearest multiple of 8 bytes, as keys' sizes are (512,
// 768, 1024 bits): a stand-in a byte short of the real key checks
// measurably sooner.
void fillStandIn(std::size_t encodedLength, bool pkcs8, R_RSA_PRIVATE_KEY& key) noexcept {
    const std::size_t overhead = pkcs8 ? 60 : 34;
    const std::size_t estimate = encodedLength > overhead ? (encodedLength - overhead) * 2 / 9 : 0;
    const std::size_t length = std::clamp<std::size_t>((estimate + 4) / 8 * 8, 16, MAX_RSA_MODULUS_LEN);
    const std::size_t half = (length + 1) / 2;
    std::uint32_t state = 0x9E3779B9u;
    auto fill = [&state](unsigned char* field, std::size_t fieldSize, std::size_t used) {
        for (std::size_t i = fieldSize - used; i < fieldSize; i++) {
            state = state * 1664525u + 1013904223u;
            field[i] = static_cast<unsigned char>(state >> 24);
        }
        // The top two bits set, as generated keys have them (a prime's top
        // bits set how often the primality test's bases are drawn again).
        field[fieldSize - used] |= 0xC0;
        field[fieldSize - 1] |= 1;
    };
    fill(key.modulus, MAX_RSA_MODULUS_LEN, length);
    fill(key.privateExponent, MAX_RSA_MODULUS_LEN, length);
    for (int i = 0; i < 2; i++) {
        fill(key.prime[i], MAX_RSA_PRIME_LEN, half);
        fill(key.primeExponent[i], MAX_RSA_PRIME_LEN, half);
    }
    fill(key.coefficient, MAX_RSA_PRIME_LEN, half);
    key.publicExponent[MAX_RSA_MODULUS_LEN - 3] = 1;
    key.publicExponent[MAX_RSA_MODULUS_LEN - 1] = 1;
    key.bits = static_cast<std::uint16_t>(8 * length);
}

}  // namespace

ErrorCode openDecryptedKey(std::span<const std::uint8_t> plain, std::size_t blockSize, bool pkcs8,
                           R_RSA_PRIVATE_KEY& key, unsigned& modulusBits) noexcept {
    secure_zero_object(key);
    modulusBits = 0;
    const std::size_t padding = pkcs7PaddingLength(plain.data() + plain.size() - blockSize, blockSize);
    // The object is read up to the end its own header gives, whatever the
    // padding said; that end must then be where the padding starts.
    const std::size_t length = objectLength(plain);
    DerFault fault;
    PrivateValues values;
    const bool read = length != 0 && (pkcs8 ? readPrivateKeyInfo(plain.first(length), values, fault)
                                            : readRsaPrivateKey(plain.first(length), values, fault));
    unsigned bits = 0;
    const char* why = nullptr;
    const bool filled = read && fillPrivateRecord(values, key, bits, &why) == ErrorCode::ok;
    if (!filled) {
        secure_zero_object(key);
        fillStandIn(plain.size(), pkcs8, key);
    }
    const ErrorCode checked = checkPrivateKey(key);
    if (checked == ErrorCode::outOfMemory) {
        secure_zero_object(key);
        return checked;
    }
    // One verdict from every finding at once.
    const bool sound =
        (padding != 0) & (length == plain.size() - padding) & filled & (checked == ErrorCode::ok);
    if (!sound) {
        secure_zero_object(key);
        return ErrorCode::wrongPassphrase;
    }
    modulusBits = bits;
    const ErrorCode ordered = putLargerPrimeFirst(key);
    if (ordered != ErrorCode::ok) secure_zero_object(key);
    return ordered;
}

}  // namespace corvane::detail
