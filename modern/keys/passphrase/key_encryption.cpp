#include "modern/keys/passphrase/key_encryption.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "modern/keys/der_structures.h"
#include "modern/keys/passphrase/pkcs12_kdf.h"
#include "platform/secure_zero.h"

namespace corvane::detail {

namespace {

constexpr std::uint8_t kPbes2[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0D};
constexpr std::uint8_t kPbkdf2[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0C};

// hmacWithSHA1 to hmacWithSHA512: one arc, last numbers 7 to 11.
struct PrfChoice {
    std::uint8_t oid[8];
    const EVP_MD* (*digest)();
    const char* derivation;
};
constexpr PrfChoice kPrfs[] = {
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x07}, EVP_sha1, "PBKDF2 with HMAC-SHA1"},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x08}, EVP_sha224, "PBKDF2 with HMAC-SHA224"},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x09}, EVP_sha256, "PBKDF2 with HMAC-SHA256"},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x0A}, EVP_sha384, "PBKDF2 with HMAC-SHA384"},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x0B}, EVP_sha512, "PBKDF2 with HMAC-SHA512"},
};
constexpr int kSha1 = 0;
constexpr int kSha256 = 2;

struct CipherChoice {
    std::uint8_t oid[9];
    std::size_t oidLength;
    const char* pemName;
    const EVP_CIPHER* (*cipher)();
};
constexpr CipherChoice kCiphers[] = {
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x02}, 9, "AES-128-CBC", EVP_aes_128_cbc},
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x16}, 9, "AES-192-CBC", EVP_aes_192_cbc},
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x2A}, 9, "AES-256-CBC", EVP_aes_256_cbc},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x07}, 8, "DES-EDE3-CBC", EVP_des_ede3_cbc},
};
constexpr int kAes256 = 2;

// The schemes of EncryptedPrivateKeyInfo older than PBES2, under
// 1.2.840.113549.1.12.1 (the PKCS #12 key derivation with SHA-1) and
// 1.2.840.113549.1.5 (PBKDF1); each identifier is the shared prefix and a
// tail. Those with a refusal are not read.
constexpr std::uint8_t kPkcsArc[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01};
enum class LegacyKdf { pkcs12, pbkdf1 };
struct LegacyScheme {
    std::uint8_t tail[3];
    std::size_t tailLength;
    LegacyKdf kdf;
    const EVP_MD* (*digest)();
    int keyLength;  // 8: single DES; 16: two-key and 24: three-key DES-EDE
    const char* refusal;
    const char* name;
};
constexpr const char* kNoRc4 = "RC4 encryption is not supported";
constexpr const char* kNoRc2 = "RC2 encryption is not supported";
constexpr const char* kNoMd2 = "MD2 key derivation is not supported";
constexpr LegacyScheme kLegacySchemes[] = {
    {{0x0C, 0x01, 0x01}, 3, LegacyKdf::pkcs12, EVP_sha1, 0, kNoRc4, ""},
    {{0x0C, 0x01, 0x02}, 3, LegacyKdf::pkcs12, EVP_sha1, 0, kNoRc4, ""},
    {{0x0C, 0x01, 0x03}, 3, LegacyKdf::pkcs12, EVP_sha1, 24, nullptr, "pbeWithSHAAnd3-KeyTripleDES-CBC"},
    {{0x0C, 0x01, 0x04}, 3, LegacyKdf::pkcs12, EVP_sha1, 16, nullptr, "pbeWithSHAAnd2-KeyTripleDES-CBC"},
    {{0x0C, 0x01, 0x05}, 3, LegacyKdf::pkcs12, EVP_sha1, 0, kNoRc2, ""},
    {{0x0C, 0x01, 0x06}, 3, LegacyKdf::pkcs12, EVP_sha1, 0, kNoRc2, ""},
    {{0x05, 0x01}, 2, LegacyKdf::pbkdf1, nullptr, 0, kNoMd2, ""},
    {{0x05, 0x03}, 2, LegacyKdf::pbkdf1, EVP_md5, 8, nullptr, "pbeWithMD5AndDES-CBC"},
    {{0x05, 0x04}, 2, LegacyKdf::pbkdf1, nullptr, 0, kNoMd2, ""},
    {{0x05, 0x06}, 2, LegacyKdf::pbkdf1, EVP_md5, 0, kNoRc2, ""},
    {{0x05, 0x0A}, 2, LegacyKdf::pbkdf1, EVP_sha1, 8, nullptr, "pbeWithSHA1AndDES-CBC"},
    {{0x05, 0x0B}, 2, LegacyKdf::pbkdf1, EVP_sha1, 0, kNoRc2, ""},
};

// The index of the older scheme with this identifier, or -1.
int legacySchemeByOid(std::span<const std::uint8_t> oid) noexcept {
    if (oid.size() <= sizeof kPkcsArc || !sameBytes(oid.first(sizeof kPkcsArc), kPkcsArc)) return -1;
    for (int i = 0; i < static_cast<int>(std::size(kLegacySchemes)); i++)
        if (sameBytes(oid.subspan(sizeof kPkcsArc),
                      std::span(kLegacySchemes[i].tail, kLegacySchemes[i].tailLength)))
            return i;
    return -1;
}
constexpr std::size_t kDesBlock = 8;

// The largest ciphertext that can hold a key the records take: a PKCS #8
// PrivateKeyInfo of a 1024-bit key whose public exponent fills its field
// and whose primes fill theirs is 764 bytes, 780 with a full padding block.
// Beyond this there is room for a few hundred bytes of PKCS #8 attributes,
// which RSA key files do not carry, and not for a 2048-bit key (about 1,190
// bytes), whose holder is better told its size than a wrong passphrase.
constexpr std::size_t kLargestKeyCiphertext = 1024;

using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

// A key buffer on the stack, wiped on the way out.
struct KeyBytes {
    unsigned char bytes[EVP_MAX_KEY_LENGTH] = {};
    ~KeyBytes() { secure_zero(bytes, sizeof bytes); }
};

// CBC from in to out: encryption adds PKCS #7 padding, decryption (in is
// whole blocks) keeps every block as it comes out, padding included, so
// that libcrypto's own padding check, which stops at the first bad byte,
// never runs.
ErrorCode runCipher(const EVP_CIPHER* cipher, const unsigned char* key, std::span<const std::uint8_t> iv,
                    bool encrypt, std::span<const std::uint8_t> in, SecretBuffer& out) noexcept {
    if (cipher == nullptr || in.size() > static_cast<std::size_t>(INT_MAX) - EVP_MAX_BLOCK_LENGTH ||
        iv.size() != static_cast<std::size_t>(EVP_CIPHER_get_iv_length(cipher)))
        return ErrorCode::keyUnreadable;
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    if (!ctx || !out.resize(in.size() + EVP_MAX_BLOCK_LENGTH)) return ErrorCode::outOfMemory;
    int first = 0;
    int last = 0;
    if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, iv.data(), encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), encrypt ? 1 : 0) != 1 ||
        EVP_CipherUpdate(ctx.get(), out.mutableBytes().data(), &first, in.data(),
                         static_cast<int>(in.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), out.mutableBytes().data() + first, &last) != 1) {
        out.resize(0);
        return ErrorCode::outOfMemory;
    }
    out.resize(static_cast<std::size_t>(first + last));
    return ErrorCode::ok;
}

int cipherByOid(std::span<const std::uint8_t> oid) noexcept {
    for (int i = 0; i < static_cast<int>(std::size(kCiphers)); i++)
        if (sameBytes(oid, std::span(kCiphers[i].oid, kCiphers[i].oidLength))) return i;
    return -1;
}

int hexValue(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The key EVP_BytesToKey derives with MD5 from the passphrase and the IV's
// first eight bytes (one round), as the traditional PEM encryption does.
bool traditionalKey(const EVP_CIPHER* cipher, std::span<const std::uint8_t> iv,
                    std::span<const char> passphrase, KeyBytes& key) noexcept {
    if (iv.size() < 8 || passphrase.size() > static_cast<std::size_t>(INT_MAX)) return false;
    return EVP_BytesToKey(cipher, EVP_md5(), iv.data(),
                          reinterpret_cast<const unsigned char*>(passphrase.data()),
                          static_cast<int>(passphrase.size()), 1, key.bytes, nullptr) > 0;
}

// The parameters of an older scheme: SEQUENCE { salt, iterations }, then
// the encrypted data closing the structure.
bool readLegacyParameters(int legacy, DerReader& object, DerReader& info, DerReader& algorithm,
                          KeyProtection& protection, DerFault& fault) noexcept {
    const LegacyScheme& scheme = kLegacySchemes[legacy];
    if (scheme.refusal != nullptr) return fault.set(ErrorCode::keyUnreadable, scheme.refusal);
    DerReader pbe(Bytes(), fault);
    if (!algorithm.enter(pbe) || !algorithm.finish() || !pbe.read(der::kOctetString, protection.salt) ||
        !pbe.readSmall(protection.iterations) || !pbe.finish() ||
        !info.read(der::kOctetString, protection.encrypted) || !info.finish() || !object.finish())
        return false;
    // PBKDF1 takes exactly eight bytes of salt.
    if (scheme.kdf == LegacyKdf::pbkdf1 && protection.salt.size() != kDesBlock)
        return fault.set(ErrorCode::keyUnreadable, "a PBES1 salt that is not eight bytes long");
    if (protection.iterations == 0)
        return fault.set(ErrorCode::keyUnreadable, "a key derivation iteration count of zero");
    protection.scheme = KeyProtection::Scheme::legacy;
    protection.legacy = legacy;
    return true;
}

// The PKCS #12 key derivation of key and IV over the passphrase as
// libcrypto reads it (UTF-8) or, with utf8 false, as older writers did (each
// byte a character). A passphrase that is not UTF-8 has only the latter.
bool derivePkcs12Scheme(const LegacyScheme& scheme, const KeyProtection& protection,
                        std::span<const char> passphrase, bool utf8, KeyBytes& key, KeyBytes& iv) noexcept {
    SecretBuffer bmp;
    if (!(utf8 && bmpPassphraseFromUtf8(passphrase, bmp)) && !bmpPassphraseWidened(passphrase, bmp))
        return false;
    return pkcs12Derive(scheme.digest(), bmp.bytes(), protection.salt, 1, protection.iterations,
                        std::span(key.bytes, static_cast<std::size_t>(scheme.keyLength))) &&
           pkcs12Derive(scheme.digest(), bmp.bytes(), protection.salt, 2, protection.iterations,
                        std::span(iv.bytes, kDesBlock));
}

// PBKDF1: the digest of passphrase and salt, redigested to the iteration
// count; the first eight bytes are the DES key, the next eight the IV. That
// is EVP_BytesToKey's first block, asked for single DES's lengths.
bool pbkdf1Derive(const LegacyScheme& scheme, const KeyProtection& protection,
                  std::span<const char> passphrase, KeyBytes& key, KeyBytes& iv) noexcept {
    const EVP_CIPHER* des = EVP_des_cbc();
    if (des == nullptr || EVP_CIPHER_get_key_length(des) != static_cast<int>(kDesBlock) ||
        EVP_CIPHER_get_iv_length(des) != static_cast<int>(kDesBlock))
        return false;
    return EVP_BytesToKey(des, scheme.digest(), protection.salt.data(),
                          reinterpret_cast<const unsigned char*>(passphrase.data()),
                          static_cast<int>(passphrase.size()), static_cast<int>(protection.iterations),
                          key.bytes, iv.bytes) == static_cast<int>(kDesBlock);
}

// Decrypts DES-CBC with key (8, 16 or 24 bytes) as DES-EDE3-CBC, which
// every libcrypto provides: a two-key key repeats its first third, and a
// single DES key used three times encrypts, decrypts and encrypts under one
// key, which is single DES (so no legacy provider is needed).
ErrorCode runDes(const LegacyScheme& scheme, const KeyBytes& key, const KeyBytes& iv,
                 std::span<const std::uint8_t> in, SecretBuffer& out) noexcept {
    KeyBytes tripled;
    const auto length = static_cast<std::size_t>(scheme.keyLength);
    for (std::size_t i = 0; i < 3 * kDesBlock; i++) tripled.bytes[i] = key.bytes[i % length];
    return runCipher(EVP_des_ede3_cbc(), tripled.bytes, std::span(iv.bytes, kDesBlock), false, in, out);
}

ErrorCode decryptLegacy(const KeyProtection& protection, std::span<const char> passphrase, unsigned reading,
                        SecretBuffer& plain) noexcept {
    const LegacyScheme& scheme = kLegacySchemes[protection.legacy];
    KeyBytes key, iv;
    const bool derived = scheme.kdf == LegacyKdf::pkcs12
                             ? derivePkcs12Scheme(scheme, protection, passphrase, reading == 0, key, iv)
                             : pbkdf1Derive(scheme, protection, passphrase, key, iv);
    if (!derived) return ErrorCode::keyUnreadable;
    return runDes(scheme, key, iv, protection.encrypted, plain);
}

bool isAscii(std::span<const char> text) noexcept {
    return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

const char* cipherName(const KeyProtection& protection) noexcept {
    if (protection.scheme != KeyProtection::Scheme::legacy) return kCiphers[protection.cipher].pemName;
    switch (kLegacySchemes[protection.legacy].keyLength) {
        case 24:
            return "DES-EDE3-CBC";
        case 16:
            return "DES-EDE-CBC";
        default:
            return "DES-CBC";
    }
}

}  // namespace

bool readEncryptedPrivateKeyInfo(std::span<const std::uint8_t> der, KeyProtection& protection,
                                 DerFault& fault) noexcept {
    DerReader object(der, fault);
    DerReader info(Bytes(), fault), algorithm(Bytes(), fault), pbes2(Bytes(), fault), kdf(Bytes(), fault),
        kdfParameters(Bytes(), fault), scheme(Bytes(), fault);
    Bytes identifier, iv;
    if (!object.enter(info) || !info.enter(algorithm) || !algorithm.read(der::kOid, identifier)) return false;
    if (!sameBytes(identifier, kPbes2)) {
        if (int legacy = legacySchemeByOid(identifier); legacy >= 0)
            return readLegacyParameters(legacy, object, info, algorithm, protection, fault);
        return fault.set(ErrorCode::keyUnreadable, "an unknown encryption scheme");
    }
    if (!algorithm.enter(pbes2) || !algorithm.finish() || !pbes2.enter(kdf) ||
        !kdf.read(der::kOid, identifier))
        return false;
    if (!sameBytes(identifier, kPbkdf2))
        return fault.set(ErrorCode::keyUnreadable, "a key derivation other than PBKDF2");
    if (!kdf.enter(kdfParameters) || !kdf.finish() ||
        !kdfParameters.read(der::kOctetString, protection.salt) ||
        !kdfParameters.readSmall(protection.iterations))
        return false;
    if (protection.iterations == 0)
        return fault.set(ErrorCode::keyUnreadable, "a PBKDF2 iteration count of zero");
    std::uint32_t keyLength = 0;
    if (kdfParameters.nextTag() == der::kInteger && !kdfParameters.readSmall(keyLength)) return false;
    protection.digest = kSha1;
    if (!kdfParameters.atEnd()) {
        DerReader prf(Bytes(), fault);
        if (!kdfParameters.enter(prf) || !prf.read(der::kOid, identifier)) return false;
        protection.digest = -1;
        for (int i = 0; i < static_cast<int>(std::size(kPrfs)); i++)
            if (sameBytes(identifier, kPrfs[i].oid)) protection.digest = i;
        if (protection.digest < 0) return fault.set(ErrorCode::keyUnreadable, "an unknown PBKDF2 function");
        if (!prf.atEnd() && !prf.readNull()) return false;
        if (!prf.finish()) return false;
    }
    if (!kdfParameters.finish() || !pbes2.enter(scheme) || !pbes2.finish() ||
        !scheme.read(der::kOid, identifier))
        return false;
    protection.cipher = cipherByOid(identifier);
    if (protection.cipher < 0) return fault.set(ErrorCode::keyUnreadable, "an unknown cipher");
    const EVP_CIPHER* cipher = kCiphers[protection.cipher].cipher();
    if (keyLength != 0 && keyLength != static_cast<std::uint32_t>(EVP_CIPHER_get_key_length(cipher)))
        return fault.set(ErrorCode::keyUnreadable, "a key length that does not suit the cipher");
    if (!scheme.read(der::kOctetString, iv) || !scheme.finish() ||
        !info.read(der::kOctetString, protection.encrypted) || !info.finish() || !object.finish())
        return false;
    if (iv.size() != static_cast<std::size_t>(EVP_CIPHER_get_iv_length(cipher)) ||
        iv.size() > sizeof protection.iv)
        return fault.set(ErrorCode::keyUnreadable, "an IV that does not suit the cipher");
    std::copy(iv.begin(), iv.end(), protection.iv);
    protection.ivLength = iv.size();
    protection.scheme = KeyProtection::Scheme::pbes2;
    return true;
}

bool isTraditionallyEncrypted(const PemBlock& block) noexcept {
    return pemHeader(block, "Proc-Type") == "4,ENCRYPTED";
}

bool readTraditionalProtection(const PemBlock& block, std::span<const std::uint8_t> encrypted,
                               KeyProtection& protection, DerFault& fault) noexcept {
    std::string_view info = pemHeader(block, "DEK-Info");
    std::size_t comma = info.find(',');
    protection.cipher = -1;
    for (int i = 0; i < static_cast<int>(std::size(kCiphers)); i++)
        if (info.substr(0, comma) == kCiphers[i].pemName) protection.cipher = i;
    if (comma == std::string_view::npos || protection.cipher < 0)
        return fault.set(ErrorCode::keyUnreadable, "an unknown cipher in the DEK-Info header");
    std::string_view hex = info.substr(comma + 1);
    protection.ivLength =
        static_cast<std::size_t>(EVP_CIPHER_get_iv_length(kCiphers[protection.cipher].cipher()));
    if (protection.ivLength > sizeof protection.iv || hex.size() != 2 * protection.ivLength)
        return fault.set(ErrorCode::keyUnreadable, "a damaged IV in the DEK-Info header");
    for (std::size_t i = 0; i < protection.ivLength; i++) {
        int high = hexValue(hex[2 * i]);
        int low = hexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return fault.set(ErrorCode::keyUnreadable, "a damaged IV in the DEK-Info header");
        protection.iv[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    protection.scheme = KeyProtection::Scheme::traditional;
    protection.encrypted = encrypted;
    protection.iterations = 1;
    return true;
}

std::size_t cipherBlockSize(const KeyProtection& protection) noexcept {
    if (protection.scheme == KeyProtection::Scheme::legacy) return kDesBlock;
    return static_cast<std::size_t>(EVP_CIPHER_get_block_size(kCiphers[protection.cipher].cipher()));
}

bool checkCiphertext(const KeyProtection& protection, DerFault& fault) noexcept {
    const std::size_t size = protection.encrypted.size();
    if (size == 0) return fault.set(ErrorCode::keyDamaged, "the encrypted key is empty");
    if (size % cipherBlockSize(protection) != 0)
        return fault.set(ErrorCode::keyDamaged, "the encrypted key is not a whole number of cipher blocks");
    if (size > kLargestKeyCiphertext)
        return fault.set(ErrorCode::keyTooLarge,
                         "the encrypted key is longer than any key of at most 1024 bits");
    return true;
}

KeyEncryption describeProtection(const KeyProtection& protection) noexcept {
    KeyEncryption description;
    description.iterations = protection.iterations;
    description.cipher = cipherName(protection);
    switch (protection.scheme) {
        case KeyProtection::Scheme::pbes2:
            description.scheme = "PBES2";
            description.derivation = kPrfs[protection.digest].derivation;
            break;
        case KeyProtection::Scheme::legacy: {
            const LegacyScheme& scheme = kLegacySchemes[protection.legacy];
            description.scheme = scheme.name;
            description.derivation = scheme.kdf == LegacyKdf::pkcs12 ? "PKCS #12 derivation with SHA-1"
                                     : scheme.digest == EVP_md5      ? "PBKDF1 with MD5"
                                                                     : "PBKDF1 with SHA-1";
            break;
        }
        case KeyProtection::Scheme::traditional:
            description.scheme = "traditional PEM encryption";
            description.derivation = "one round of MD5 (EVP_BytesToKey)";
            break;
    }
    return description;
}

unsigned passphraseReadings(const KeyProtection& protection, std::span<const char> passphrase) noexcept {
    if (protection.scheme != KeyProtection::Scheme::legacy ||
        kLegacySchemes[protection.legacy].kdf != LegacyKdf::pkcs12 || isAscii(passphrase))
        return 1;
    SecretBuffer bmp;
    return bmpPassphraseFromUtf8(passphrase, bmp) ? 2 : 1;
}

ErrorCode decryptKeyBlocks(const KeyProtection& protection, std::span<const char> passphrase,
                           unsigned reading, SecretBuffer& plain) noexcept {
    if (passphrase.size() > static_cast<std::size_t>(INT_MAX) ||
        protection.salt.size() > static_cast<std::size_t>(INT_MAX))
        return ErrorCode::keyUnreadable;
    const std::span<const std::uint8_t> iv(protection.iv, protection.ivLength);
    switch (protection.scheme) {
        case KeyProtection::Scheme::legacy:
            return decryptLegacy(protection, passphrase, reading, plain);
        case KeyProtection::Scheme::traditional: {
            const EVP_CIPHER* cipher = kCiphers[protection.cipher].cipher();
            KeyBytes key;
            if (!traditionalKey(cipher, iv, passphrase, key)) return ErrorCode::outOfMemory;
            return runCipher(cipher, key.bytes, iv, false, protection.encrypted, plain);
        }
        case KeyProtection::Scheme::pbes2:
            break;
    }
    const EVP_CIPHER* cipher = kCiphers[protection.cipher].cipher();
    KeyBytes key;
    if (PKCS5_PBKDF2_HMAC(passphrase.data(), static_cast<int>(passphrase.size()), protection.salt.data(),
                          static_cast<int>(protection.salt.size()), static_cast<int>(protection.iterations),
                          kPrfs[protection.digest].digest(), EVP_CIPHER_get_key_length(cipher),
                          key.bytes) != 1)
        return ErrorCode::outOfMemory;
    return runCipher(cipher, key.bytes, iv, false, protection.encrypted, plain);
}

bool encryptPbes2(std::span<const std::uint8_t> privateKeyInfo, std::string_view passphrase,
                  DerWriter& out) noexcept {
    constexpr std::uint32_t kIterations = 2048;
    std::uint8_t salt[16];
    std::uint8_t iv[16];
    const EVP_CIPHER* cipher = kCiphers[kAes256].cipher();
    KeyBytes key;
    SecretBuffer encrypted;
    if (RAND_bytes(salt, sizeof salt) != 1 || RAND_bytes(iv, sizeof iv) != 1 ||
        passphrase.size() > static_cast<std::size_t>(INT_MAX) ||
        PKCS5_PBKDF2_HMAC(passphrase.data(), static_cast<int>(passphrase.size()), salt, sizeof salt,
                          static_cast<int>(kIterations), kPrfs[kSha256].digest(),
                          EVP_CIPHER_get_key_length(cipher), key.bytes) != 1 ||
        runCipher(cipher, key.bytes, iv, true, privateKeyInfo, encrypted) != ErrorCode::ok)
        return false;
    static constexpr std::uint8_t kNone[1] = {};
    DerWriter prf, kdfParameters, kdf, scheme, pbes2, algorithm, info;
    prf.element(der::kOid, kPrfs[kSha256].oid);
    prf.element(der::kNull, Bytes(kNone, 0));
    kdfParameters.element(der::kOctetString, salt);
    kdfParameters.smallInteger(kIterations);
    kdfParameters.wrap(der::kSequence, prf);
    kdf.element(der::kOid, kPbkdf2);
    kdf.wrap(der::kSequence, kdfParameters);
    scheme.element(der::kOid, std::span(kCiphers[kAes256].oid, kCiphers[kAes256].oidLength));
    scheme.element(der::kOctetString, iv);
    pbes2.wrap(der::kSequence, kdf);
    pbes2.wrap(der::kSequence, scheme);
    algorithm.element(der::kOid, kPbes2);
    algorithm.wrap(der::kSequence, pbes2);
    info.wrap(der::kSequence, algorithm);
    info.element(der::kOctetString, encrypted.bytes());
    return out.wrap(der::kSequence, info);
}

bool encryptTraditional(std::span<const std::uint8_t> rsaPrivateKey, std::string_view passphrase,
                        std::string& headers, SecretBuffer& encrypted) noexcept {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const CipherChoice& choice = kCiphers[kAes256];
    const EVP_CIPHER* cipher = choice.cipher();
    std::uint8_t iv[16];
    KeyBytes key;
    if (RAND_bytes(iv, sizeof iv) != 1 || !traditionalKey(cipher, iv, passphrase, key) ||
        runCipher(cipher, key.bytes, iv, true, rsaPrivateKey, encrypted) != ErrorCode::ok)
        return false;
    try {
        headers = "Proc-Type: 4,ENCRYPTED\nDEK-Info: ";
        headers.append(choice.pemName).push_back(',');
        for (std::uint8_t b : iv) {
            headers.push_back(kDigits[b >> 4]);
            headers.push_back(kDigits[b & 15]);
        }
        headers.push_back('\n');
    } catch (...) {
        return false;
    }
    return true;
}

}  // namespace corvane::detail
