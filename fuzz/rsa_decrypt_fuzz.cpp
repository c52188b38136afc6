// Feeds arbitrary inputs to both RSA decryptions under fixed keys (in
// either prime order, and under arbitrary bit counts), checking that
// nothing crashes or overruns and that a message is never longer than the
// block allows. The output buffer has exactly the documented size, so the
// sanitizer catches any write beyond it.
#include <Corvane/rsa.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Keys made once for this target (no secrets: they protect nothing), with
// the primes given larger first. The 128-bit key keeps most runs cheap; the
// 512-bit key is the smallest size that real peers use.
struct KeyText {
    std::uint16_t bits;
    const char *modulus, *p, *q, *dP, *dQ, *qInverseModP, *pInverseModQ;
};

constexpr KeyText kSmallKey = {128,
                               "c1d0fd1f26b0528c22f583649812c843",
                               "eb90f3793bef8fb3",
                               "d2a0edc853cb1d31",
                               "df9c7a32741da517",
                               "99fa379a69576521",
                               "b2601d6535c1cac6",
                               "3322ec5d8a8dad2a"};

constexpr KeyText kKey512 = {
    512,
    "be7319f43068b4550fef6618825b5b84596c7edb47242333b037d4f4e2670877"
    "de9d6b5cc93cc4a111925a0eb51bc985227fab67bb5394d9ec35729017abeff3",
    "dd140d9ee08a8bbbdc0e2eabe37194f7dd060b835c44101092bb1efdb22e63d7",
    "dc887c9759dff0d18407c854b0050bd0183d12182589754428d85a95468c5145",
    "34a335ab02637a69bc37543d70e5f6461dc5f6afcc24187f19b09bec63a44ff9",
    "a088ee81529854fa7f6d16e4a7199546cf4e2d8ccc4e6ac1ca25ec92bbbf4b2d",
    "a53c2281fef720439b097a6d1d9241be781b5087ca1d95ebf544aaeb08ad2f68",
    "37b4aa1d4b01c927ec0a4e75eb2f4f6699ea269d2526c2dcd58d011d746ea8f4"};

constexpr const char* kPublicExponent = "010001";

// hex right-aligned into field[0..length).
void put(unsigned char* field, std::size_t length, const char* hex) {
    std::size_t digits = std::strlen(hex);
    std::size_t bytes = digits / 2;
    if (bytes > length) std::abort();
    std::memset(field, 0, length);
    for (std::size_t i = 0; i < bytes; i++)
        field[length - bytes + i] = static_cast<unsigned char>(std::stoul(std::string(hex + 2 * i, 2), nullptr, 16));
}

struct Keys {
    R_RSA_PUBLIC_KEY publicKey{};
    R_RSA_PRIVATE_KEY privateKey{};         // larger prime first
    R_RSA_PRIVATE_KEY swappedPrivateKey{};  // smaller prime first
};

Keys makeKeys(const KeyText& t) {
    Keys k;
    k.publicKey.bits = t.bits;
    put(k.publicKey.modulus, sizeof k.publicKey.modulus, t.modulus);
    put(k.publicKey.exponent, sizeof k.publicKey.exponent, kPublicExponent);

    R_RSA_PRIVATE_KEY& a = k.privateKey;
    a.bits = t.bits;
    put(a.modulus, sizeof a.modulus, t.modulus);
    put(a.publicExponent, sizeof a.publicExponent, kPublicExponent);
    put(a.prime[0], sizeof a.prime[0], t.p);
    put(a.prime[1], sizeof a.prime[1], t.q);
    put(a.primeExponent[0], sizeof a.primeExponent[0], t.dP);
    put(a.primeExponent[1], sizeof a.primeExponent[1], t.dQ);
    put(a.coefficient, sizeof a.coefficient, t.qInverseModP);

    R_RSA_PRIVATE_KEY& b = k.swappedPrivateKey;
    b = a;
    put(b.prime[0], sizeof b.prime[0], t.q);
    put(b.prime[1], sizeof b.prime[1], t.p);
    put(b.primeExponent[0], sizeof b.primeExponent[0], t.dQ);
    put(b.primeExponent[1], sizeof b.primeExponent[1], t.dP);
    put(b.coefficient, sizeof b.coefficient, t.pInverseModQ);
    return k;
}

const Keys& smallKeys() {
    static const Keys k = makeKeys(kSmallKey);
    return k;
}

const Keys& keys512() {
    static const Keys k = makeKeys(kKey512);
    return k;
}

void check(std::int32_t status, std::uint32_t outLen, std::uint32_t modulusLen) {
    if (status != 0 && status != QV_STATUS_BAD_DATA && status != QV_STATUS_BAD_LENGTH) std::abort();
    if (status == 0 && (modulusLen < 11 || outLen > modulusLen - 11)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Byte 0 picks the variant: bit 0 the prime order, bits 1-6 the key (the
    // 512-bit key one time in 64); with bit 0x80 set, bytes 1-2 replace the
    // key's bit count (any 16-bit value, refused ones included).
    if (size < 3) return 0;
    std::uint8_t variant = data[0];
    Keys k = (variant & 0x7E) == 0 ? keys512() : smallKeys();
    if (variant & 0x80) {
        std::uint16_t bits = static_cast<std::uint16_t>(data[1] << 8 | data[2]);
        k.publicKey.bits = bits;
        k.privateKey.bits = bits;
        k.swappedPrivateKey.bits = bits;
    }
    const std::uint8_t* input = data + 3;
    std::uint32_t inputLen = static_cast<std::uint32_t>(size - 3);

    std::uint32_t modulusLen = (static_cast<std::uint32_t>(k.publicKey.bits) + 7) / 8;
    bool usable = k.publicKey.bits != 0 && k.publicKey.bits <= MAX_RSA_MODULUS_BITS;
    std::size_t room = usable && modulusLen >= 11 ? modulusLen - 11 : 0;
    // Exactly the documented output size (at least one byte to have a pointer).
    std::unique_ptr<unsigned char[]> out(new unsigned char[room == 0 ? 1 : room]);

    std::uint32_t outLen = 0;
    std::int32_t status = QV_RSAPublicDecrypt(out.get(), &outLen, input, inputLen, &k.publicKey);
    check(status, outLen, modulusLen);

    const R_RSA_PRIVATE_KEY& privateKey = (variant & 1) ? k.swappedPrivateKey : k.privateKey;
    status = QV_RSAPrivateDecrypt(out.get(), &outLen, input, inputLen, &privateKey);
    check(status, outLen, modulusLen);
    return 0;
}
