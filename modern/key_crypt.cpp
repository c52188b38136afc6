#include "key_crypt.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "key_der.h"
#include "pkcs12_kdf.h"
#include "secure_zero.h"

namespace corvane::detail {

namespace {

constexpr std::uint8_t kPbes2[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0D};
constexpr std::uint8_t kPbkdf2[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0C};

// hmacWithSHA1 to hmacWithSHA512: one arc, last numbers 7 to 11.
struct PrfChoice {
    std::uint8_t oid[8];
    const EVP_MD* (*digest)();
};
constexpr PrfChoice kPrfs[] = {
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x07}, EVP_sha1},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x08}, EVP_sha224},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x09}, EVP_sha256},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x0A}, EVP_sha384},
    {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x0B}, EVP_sha512},
};
constexpr int kSha1 = 0;
constexpr int kSha256 = 2;

struct CipherChoice {
    std::uint8_t oid[9];
    std::size_t oidLength;
    std::string_view pemName;
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
};
constexpr const char* kNoRc4 = "RC4 encryption is not supported";
constexpr const char* kNoRc2 = "RC2 encryption is not supported";
constexpr const char* kNoMd2 = "MD2 key derivation is not supported";
constexpr LegacyScheme kLegacySchemes[] = {
    {{0x0C, 0x01, 0x01}, 3, LegacyKdf::pkcs12, EVP_sha1, 0, kNoRc4},
    {{0x0C, 0x01, 0x02}, 3, LegacyKdf::pkcs12, EVP_sha1, 0, kNoRc4},
    {{0x0C, 0x01, 0x03}, 3, LegacyKdf::pkcs12, EVP_sha1, 24, nullptr},
    {{0x0C, 0x01, 0x04}, 3, LegacyKdf::pkcs12, EVP_sha1, 16, nullptr},
    {{0x0C, 0x01, 0x05}, 3, LegacyKdf::pkcs12, EVP_sha1, 0, kNoRc2},
    {{0x0C, 0x01, 0x06}, 3, LegacyKdf::pkcs12, EVP_sha1, 0, kNoRc2},
    {{0x05, 0x01}, 2, LegacyKdf::pbkdf1, nullptr, 0, kNoMd2},
    {{0x05, 0x03}, 2, LegacyKdf::pbkdf1, EVP_md5, 8, nullptr},
    {{0x05, 0x04}, 2, LegacyKdf::pbkdf1, nullptr, 0, kNoMd2},
    {{0x05, 0x06}, 2, LegacyKdf::pbkdf1, EVP_md5, 0, kNoRc2},
    {{0x05, 0x0A}, 2, LegacyKdf::pbkdf1, EVP_sha1, 8, nullptr},
    {{0x05, 0x0B}, 2, LegacyKdf::pbkdf1, EVP_sha1, 0, kNoRc2},
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

using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

// A key buffer on the stack, wiped on the way out.
struct KeyBytes {
    unsigned char bytes[EVP_MAX_KEY_LENGTH] = {};
    ~KeyBytes() { secure_zero(bytes, sizeof bytes); }
};

// CBC with PKCS #7 padding from in to out; wrongPassphrase when the padding
// of a decryption does not check out.
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
        EVP_CipherUpdate(ctx.get(), out.mutableBytes().data(), &first, in.data(),
                         static_cast<int>(in.size())) != 1)
        return ErrorCode::outOfMemory;
    if (EVP_CipherFinal_ex(ctx.get(), out.mutableBytes().data() + first, &last) != 1) {
        out.resize(0);
        return encrypt ? ErrorCode::outOfMemory : ErrorCode::wrongPassphrase;
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
                          EncryptedKeyParameters& parameters, DerFault& fault) noexcept {
    const LegacyScheme& scheme = kLegacySchemes[legacy];
    if (scheme.refusal != nullptr) return fault.set(ErrorCode::keyUnreadable, scheme.refusal);
    DerReader pbe(Bytes(), fault);
    if (!algorithm.enter(pbe) || !algorithm.finish() || !pbe.read(der::kOctetString, parameters.salt) ||
        !pbe.readSmall(parameters.iterations) || !pbe.finish() ||
        !info.read(der::kOctetString, parameters.encrypted) || !info.finish() || !object.finish())
        return false;
    // PBKDF1 takes exactly eight bytes of salt.
    if (scheme.kdf == LegacyKdf::pbkdf1 && parameters.salt.size() != kDesBlock)
        return fault.set(ErrorCode::keyUnreadable, "a PBES1 salt that is not eight bytes long");
    if (parameters.iterations == 0 || parameters.iterations > kMaxPbkdf2Iterations)
        return fault.set(ErrorCode::keyUnreadable, "a key derivation iteration count out of range");
    parameters.legacy = legacy;
    return true;
}

// The PKCS #12 key derivation of key and IV over the passphrase as
// libcrypto reads it (UTF-8) or, with utf8 false, as older writers did (each
// byte a character).
bool derivePkcs12Scheme(const LegacyScheme& scheme, const EncryptedKeyParameters& parameters,
                        std::span<const char> passphrase, bool utf8, KeyBytes& key, KeyBytes& iv) noexcept {
    SecretBuffer bmp;
    return (utf8 ? bmpPassphraseFromUtf8(passphrase, bmp) : bmpPassphraseWidened(passphrase, bmp)) &&
           pkcs12Derive(scheme.digest(), bmp.bytes(), parameters.salt, 1, parameters.iterations,
                        std::span(key.bytes, static_cast<std::size_t>(scheme.keyLength))) &&
           pkcs12Derive(scheme.digest(), bmp.bytes(), parameters.salt, 2, parameters.iterations,
                        std::span(iv.bytes, kDesBlock));
}

// PBKDF1: the digest of passphrase and salt, redigested to the iteration
// count; the first eight bytes are the DES key, the next eight the IV. That
// is EVP_BytesToKey's first block, asked for single DES's lengths.
bool pbkdf1Derive(const LegacyScheme& scheme, const EncryptedKeyParameters& parameters,
                  std::span<const char> passphrase, KeyBytes& key, KeyBytes& iv) noexcept {
    const EVP_CIPHER* des = EVP_des_cbc();
    if (des == nullptr || EVP_CIPHER_get_key_length(des) != static_cast<int>(kDesBlock) ||
        EVP_CIPHER_get_iv_length(des) != static_cast<int>(kDesBlock))
        return false;
    return EVP_BytesToKey(des, scheme.digest(), parameters.salt.data(),
                          reinterpret_cast<const unsigned char*>(passphrase.data()),
                          static_cast<int>(passphrase.size()), static_cast<int>(parameters.iterations),
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

ErrorCode decryptLegacy(const EncryptedKeyParameters& parameters, std::span<const char> passphrase,
                        SecretBuffer& plain, const char*& detail) noexcept {
    const LegacyScheme& scheme = kLegacySchemes[parameters.legacy];
    if (passphrase.size() > static_cast<std::size_t>(INT_MAX) ||
        parameters.salt.size() > static_cast<std::size_t>(INT_MAX))
        return ErrorCode::keyUnreadable;
    const bool ascii =
        std::all_of(passphrase.begin(), passphrase.end(), [](char c) { return (c & 0x80) == 0; });
    ErrorCode result = ErrorCode::keyUnreadable;
    // Two passes only for a PKCS #12 key under a non-ASCII passphrase.
    for (bool utf8 : {true, false}) {
        KeyBytes key, iv;
        bool derived = scheme.kdf == LegacyKdf::pkcs12
                           ? derivePkcs12Scheme(scheme, parameters, passphrase, utf8, key, iv)
                           : pbkdf1Derive(scheme, parameters, passphrase, key, iv);
        if (derived) result = runDes(scheme, key, iv, parameters.encrypted, plain);
        if (result == ErrorCode::ok || scheme.kdf == LegacyKdf::pbkdf1 || ascii) break;
    }
    if (result == ErrorCode::wrongPassphrase)
        detail = "the decrypted padding does not check out";
    else if (result == ErrorCode::keyUnreadable)
        detail = "this libcrypto cannot derive the key or run DES";
    return result;
}

}  // namespace

bool readEncryptedPrivateKeyInfo(std::span<const std::uint8_t> der, EncryptedKeyParameters& parameters,
                                 DerFault& fault) noexcept {
    DerReader object(der, fault);
    DerReader info(Bytes(), fault), algorithm(Bytes(), fault), pbes2(Bytes(), fault), kdf(Bytes(), fault),
        kdfParameters(Bytes(), fault), scheme(Bytes(), fault);
    Bytes identifier;
    if (!object.enter(info) || !info.enter(algorithm) || !algorithm.read(der::kOid, identifier)) return false;
    if (!sameBytes(identifier, kPbes2)) {
        if (int legacy = legacySchemeByOid(identifier); legacy >= 0)
            return readLegacyParameters(legacy, object, info, algorithm, parameters, fault);
        return fault.set(ErrorCode::keyUnreadable, "an unknown encryption scheme");
    }
    if (!algorithm.enter(pbes2) || !algorithm.finish() || !pbes2.enter(kdf) ||
        !kdf.read(der::kOid, identifier))
        return false;
    if (!sameBytes(identifier, kPbkdf2))
        return fault.set(ErrorCode::keyUnreadable, "a key derivation other than PBKDF2");
    if (!kdf.enter(kdfParameters) || !kdf.finish() ||
        !kdfParameters.read(der::kOctetString, parameters.salt) ||
        !kdfParameters.readSmall(parameters.iterations))
        return false;
    if (parameters.iterations == 0 || parameters.iterations > kMaxPbkdf2Iterations)
        return fault.set(ErrorCode::keyUnreadable, "a PBKDF2 iteration count out of range");
    std::uint32_t keyLength = 0;
    if (kdfParameters.nextTag() == der::kInteger && !kdfParameters.readSmall(keyLength)) return false;
    parameters.digest = kSha1;
    if (!kdfParameters.atEnd()) {
        DerReader prf(Bytes(), fault);
        if (!kdfParameters.enter(prf) || !prf.read(der::kOid, identifier)) return false;
        parameters.digest = -1;
        for (int i = 0; i < static_cast<int>(std::size(kPrfs)); i++)
            if (sameBytes(identifier, kPrfs[i].oid)) parameters.digest = i;
        if (parameters.digest < 0) return fault.set(ErrorCode::keyUnreadable, "an unknown PBKDF2 function");
        if (!prf.atEnd() && !prf.readNull()) return false;
        if (!prf.finish()) return false;
    }
    if (!kdfParameters.finish() || !pbes2.enter(scheme) || !pbes2.finish() ||
        !scheme.read(der::kOid, identifier))
        return false;
    parameters.cipher = cipherByOid(identifier);
    if (parameters.cipher < 0) return fault.set(ErrorCode::keyUnreadable, "an unknown cipher");
    const EVP_CIPHER* cipher = kCiphers[parameters.cipher].cipher();
    if (keyLength != 0 && keyLength != static_cast<std::uint32_t>(EVP_CIPHER_get_key_length(cipher)))
        return fault.set(ErrorCode::keyUnreadable, "a key length that does not suit the cipher");
    if (!scheme.read(der::kOctetString, parameters.iv) || !scheme.finish() ||
        !info.read(der::kOctetString, parameters.encrypted) || !info.finish() || !object.finish())
        return false;
    if (parameters.iv.size() != static_cast<std::size_t>(EVP_CIPHER_get_iv_length(cipher)))
        return fault.set(ErrorCode::keyUnreadable, "an IV that does not suit the cipher");
    return true;
}

ErrorCode decryptPrivateKeyInfo(const EncryptedKeyParameters& parameters, std::span<const char> passphrase,
                                SecretBuffer& plain, const char*& detail) noexcept {
    if (parameters.legacy >= 0) return decryptLegacy(parameters, passphrase, plain, detail);
    const EVP_CIPHER* cipher = kCiphers[parameters.cipher].cipher();
    KeyBytes key;
    int keyLength = EVP_CIPHER_get_key_length(cipher);
    if (passphrase.size() > static_cast<std::size_t>(INT_MAX) ||
        parameters.salt.size() > static_cast<std::size_t>(INT_MAX) ||
        PKCS5_PBKDF2_HMAC(passphrase.data(), static_cast<int>(passphrase.size()), parameters.salt.data(),
                          static_cast<int>(parameters.salt.size()), static_cast<int>(parameters.iterations),
                          kPrfs[parameters.digest].digest(), keyLength, key.bytes) != 1)
        return ErrorCode::outOfMemory;
    ErrorCode result = runCipher(cipher, key.bytes, parameters.iv, false, parameters.encrypted, plain);
    if (result == ErrorCode::wrongPassphrase) detail = "the decrypted padding does not check out";
    return result;
}

bool isTraditionallyEncrypted(const PemBlock& block) noexcept {
    return pemHeader(block, "Proc-Type") == "4,ENCRYPTED";
}

ErrorCode decryptTraditional(const PemBlock& block, std::span<const std::uint8_t> encrypted,
                             std::span<const char> passphrase, SecretBuffer& plain,
                             const char*& detail) noexcept {
    std::string_view info = pemHeader(block, "DEK-Info");
    std::size_t comma = info.find(',');
    const CipherChoice* choice = nullptr;
    for (const CipherChoice& c : kCiphers)
        if (info.substr(0, comma) == c.pemName) choice = &c;
    if (comma == std::string_view::npos || choice == nullptr) {
        detail = "an unknown cipher in the DEK-Info header";
        return ErrorCode::keyUnreadable;
    }
    const EVP_CIPHER* cipher = choice->cipher();
    std::string_view hex = info.substr(comma + 1);
    std::uint8_t iv[EVP_MAX_IV_LENGTH] = {};
    std::size_t ivLength = static_cast<std::size_t>(EVP_CIPHER_get_iv_length(cipher));
    if (hex.size() != 2 * ivLength) {
        detail = "a damaged IV in the DEK-Info header";
        return ErrorCode::keyUnreadable;
    }
    for (std::size_t i = 0; i < ivLength; i++) {
        int high = hexValue(hex[2 * i]);
        int low = hexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            detail = "a damaged IV in the DEK-Info header";
            return ErrorCode::keyUnreadable;
        }
        iv[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    KeyBytes key;
    if (!traditionalKey(cipher, std::span(iv, ivLength), passphrase, key)) return ErrorCode::outOfMemory;
    ErrorCode result = runCipher(cipher, key.bytes, std::span(iv, ivLength), false, encrypted, plain);
    if (result == ErrorCode::wrongPassphrase) detail = "the decrypted padding does not check out";
    return result;
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
