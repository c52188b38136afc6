// Hostile variants of one sound key: values that do not fit together and
// DER that breaks the encoding rules, each in every container the readers
// take (PKCS #1 and PKCS #8, PEM and DER, plain and encrypted), through the
// private and the public reader, the modern fromRecord and the writers.
// Each must be refused with its own code (in an encrypted container, with
// the one answer for whatever the decryption shows) and leave the record
// all zero. The
// containers are built here with OpenSSL's PBKDF2 and ciphers, apart from
// the library's own writers.
#include <Corvane/keys.h>
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>

#include <Corvane/corvane.hpp>
#include <algorithm>
#include <functional>
#include <iostream>
#include <memory>

#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

using namespace corvane;
using namespace corvane::test;
namespace cv = corvane::v1;

namespace {

using Bn = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
Bn bn(const Bytes& b) { return Bn(BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr), BN_free); }
Bn bnNew() { return Bn(BN_new(), BN_free); }
Bytes bytesOfBn(const BIGNUM* b) {
    Bytes out(static_cast<std::size_t>(BN_num_bytes(b)));
    BN_bn2bin(b, out.data());
    return out;
}

// ---- a small DER builder, kept apart from the library's writer ----------

Bytes tlv(std::uint8_t tag, const Bytes& contents) {
    Bytes out{tag};
    std::size_t n = contents.size();
    if (n < 0x80) {
        out.push_back(static_cast<std::uint8_t>(n));
    } else if (n < 0x100) {
        out.insert(out.end(), {0x81, static_cast<std::uint8_t>(n)});
    } else {
        out.insert(out.end(), {0x82, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
    }
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
// A non-negative INTEGER's contents.
Bytes integerContents(Bytes magnitude) {
    while (magnitude.size() > 1 && magnitude[0] == 0) magnitude.erase(magnitude.begin());
    if (magnitude.empty()) magnitude.push_back(0);
    if (magnitude[0] & 0x80) magnitude.insert(magnitude.begin(), 0);
    return magnitude;
}
// The two's complement contents of -magnitude.
Bytes negativeContents(const Bytes& magnitude) {
    Bytes c = integerContents(magnitude);
    for (auto& b : c) b = static_cast<std::uint8_t>(~b);
    for (std::size_t i = c.size(); i-- > 0;)
        if (++c[i] != 0) break;
    if (!(c[0] & 0x80)) c.insert(c.begin(), 0xFF);
    return c;
}

const Bytes kRsaAlgorithm = fromHex("300d06092a864886f70d0101010500");

// ---- hostile keys -----------------------------------------------------------

// The INTEGER encodings of one PKCS #1 key, each replaceable, and the bytes
// around them.
struct Pkcs1 {
    Bytes version = tlv(0x02, {0});
    Bytes fields[8];  // n e d p q dP dQ qInv, whole TLVs
    Bytes trailing;   // after the SEQUENCE
    bool indefinite = false;

    Bytes der() const {
        Bytes body = version;
        for (const Bytes& f : fields) body.insert(body.end(), f.begin(), f.end());
        if (!indefinite) return cat({tlv(0x30, body), trailing});
        return cat({Bytes{0x30, 0x80}, body, Bytes{0, 0}, trailing});
    }
};
enum Field { kN, kE, kD, kP, kQ, kDP, kDQ, kQInv };

Pkcs1 pkcs1Of(const RsaComponents& c) {
    Pkcs1 k;
    const Bytes* values[] = {&c.n, &c.e, &c.d, &c.p, &c.q, &c.dP, &c.dQ, &c.qInv};
    for (int i = 0; i < 8; i++) k.fields[i] = tlv(0x02, integerContents(*values[i]));
    return k;
}

// The inverse of a modulo m.
Bytes inverseOf(const Bytes& a, const Bytes& m) {
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    Bn inv = bnNew();
    BN_mod_inverse(inv.get(), bn(a).get(), bn(m).get(), ctx.get());
    return bytesOfBn(inv.get());
}

// The key with its primes (and their exponents) traded, and the coefficient
// for that order.
void swapPrimes(RsaComponents& c) {
    std::swap(c.p, c.q);
    std::swap(c.dP, c.dQ);
    c.qInv = inverseOf(c.q, c.p);
}

// The sound key, larger prime first.
RsaComponents soundKey() {
    RsaComponents c = cachedRsaKey(512).parts;
    if (BN_cmp(bn(c.p).get(), bn(c.q).get()) < 0) swapPrimes(c);
    return c;
}

// A key whose p is the product of two primes and whose other values are
// made to fit that composite p, so that only the primality test can tell.
RsaComponents compositePKey() {
    for (;;) {
        std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
        Bn r = bnNew(), s = bnNew(), p = bnNew(), q = bnNew();
        BN_generate_prime_ex(r.get(), 136, 0, nullptr, nullptr, nullptr);
        BN_generate_prime_ex(s.get(), 136, 0, nullptr, nullptr, nullptr);
        BN_generate_prime_ex(q.get(), 200, 0, nullptr, nullptr, nullptr);
        BN_mul(p.get(), r.get(), s.get(), ctx.get());
        if (auto c = rsaComponentsFromPrimes(p.get(), q.get(), 65537)) return *c;
    }
}

Bytes plusSmall(const Bytes& v, long add) {
    Bn b = bn(v);
    if (add >= 0)
        BN_add_word(b.get(), static_cast<BN_ULONG>(add));
    else
        BN_sub_word(b.get(), static_cast<BN_ULONG>(-add));
    return bytesOfBn(b.get());
}

struct Hostile {
    const char* name;
    std::function<Pkcs1(const RsaComponents&)> make;
    ErrorCode code;
    bool valuesOnly;  // a fault of the values (a record can hold it), not of the encoding
};

Pkcs1 withValues(RsaComponents c, const std::function<void(RsaComponents&)>& change) {
    change(c);
    return pkcs1Of(c);
}

const std::vector<Hostile>& hostileKeys() {
    static const std::vector<Hostile> table = {
        {"wrong coefficient",
         [](auto c) { return withValues(c, [](auto& k) { k.qInv = plusSmall(k.qInv, 1); }); },
         ErrorCode::keyInconsistent, true},
        // The order the readers turn around: the coefficient is checked
        // before it is made anew for the larger prime first.
        {"smaller prime first, wrong coefficient",
         [](auto c) {
             return withValues(c, [](auto& k) {
                 swapPrimes(k);
                 k.qInv = plusSmall(k.qInv, 1);
             });
         },
         ErrorCode::keyInconsistent, true},
        {"wrong dP", [](auto c) { return withValues(c, [](auto& k) { k.dP = plusSmall(k.dP, 2); }); },
         ErrorCode::keyInconsistent, true},
        {"wrong dQ", [](auto c) { return withValues(c, [](auto& k) { k.dQ = plusSmall(k.dQ, 2); }); },
         ErrorCode::keyInconsistent, true},
        {"p equals q",
         [](auto c) {
             return withValues(c, [](auto& k) {
                 std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
                 Bn n = bnNew();
                 BN_sqr(n.get(), bn(k.p).get(), ctx.get());
                 k.n = bytesOfBn(n.get());
                 k.q = k.p;
                 k.dQ = k.dP;
             });
         },
         ErrorCode::keyInconsistent, true},
        {"even p", [](auto c) { return withValues(c, [](auto& k) { k.p = plusSmall(k.p, 1); }); },
         ErrorCode::keyInconsistent, true},
        {"q = 1",
         [](auto c) {
             return withValues(c, [](auto& k) {
                 k.n = k.p;
                 k.q = {1};
                 k.dQ = {1};
             });
         },
         ErrorCode::keyInconsistent, true},
        {"n is not p * q", [](auto c) { return withValues(c, [](auto& k) { k.n = plusSmall(k.n, 2); }); },
         ErrorCode::keyInconsistent, true},
        {"e * d is not 1", [](auto c) { return withValues(c, [](auto& k) { k.e = plusSmall(k.e, 2); }); },
         ErrorCode::keyInconsistent, true},
        {"composite p", [](auto) { return pkcs1Of(compositePKey()); }, ErrorCode::keyInconsistent, true},
        {"e = 1", [](auto c) { return withValues(c, [](auto& k) { k.e = {1}; }); }, ErrorCode::keyInvalid,
         true},
        {"even e", [](auto c) { return withValues(c, [](auto& k) {
                                    k.e = {1, 0, 2};
                                }); },
         ErrorCode::keyInvalid, true},
        {"negative e (-3)",
         [](auto c) {
             Pkcs1 k = pkcs1Of(c);
             k.fields[kE] = tlv(0x02, negativeContents({3}));
             return k;
         },
         ErrorCode::keyMalformed, false},
        {"negative dP",
         [](auto c) {
             Pkcs1 k = pkcs1Of(c);
             k.fields[kDP] = tlv(0x02, negativeContents(c.dP));
             return k;
         },
         ErrorCode::keyMalformed, false},
        {"negative coefficient",
         [](auto c) {
             Pkcs1 k = pkcs1Of(c);
             k.fields[kQInv] = tlv(0x02, negativeContents(c.qInv));
             return k;
         },
         ErrorCode::keyMalformed, false},
        {"non-minimal INTEGER",
         [](auto c) {
             Pkcs1 k = pkcs1Of(c);
             k.fields[kE] = tlv(0x02, cat({Bytes{0}, integerContents(c.e)}));
             return k;
         },
         ErrorCode::keyMalformed, false},
        {"non-minimal length",
         [](auto c) {
             Pkcs1 k = pkcs1Of(c);
             Bytes e = integerContents(c.e);
             k.fields[kE] = cat({Bytes{0x02, 0x81, static_cast<std::uint8_t>(e.size())}, e});
             return k;
         },
         ErrorCode::keyMalformed, false},
        {"indefinite length",
         [](auto c) {
             Pkcs1 k = pkcs1Of(c);
             k.indefinite = true;
             return k;
         },
         ErrorCode::keyMalformed, false},
        {"bytes after the object",
         [](auto c) {
             Pkcs1 k = pkcs1Of(c);
             k.trailing = {0};
             return k;
         },
         ErrorCode::keyMalformed, false},
        {"unknown version",
         [](auto c) {
             Pkcs1 k = pkcs1Of(c);
             k.version = tlv(0x02, {2});
             return k;
         },
         ErrorCode::keyMalformed, false},
    };
    return table;
}

// ---- containers -------------------------------------------------------------

constexpr const char* kPassphrase = "hostile";

std::string pem(const std::string& label, const Bytes& der, const std::string& headers = {}) {
    std::string body = v1::base64Encode(der);
    std::string text = "-----BEGIN " + label + "-----\n" + headers;
    for (std::size_t i = 0; i < body.size(); i += 64) text += body.substr(i, 64) + "\n";
    return text + "-----END " + label + "-----\n";
}

Bytes cbc(const EVP_CIPHER* cipher, const Bytes& key, const Bytes& iv, const Bytes& plain) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    Bytes out(plain.size() + 32);
    int a = 0, b = 0;
    EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, key.data(), iv.data());
    EVP_EncryptUpdate(ctx.get(), out.data(), &a, plain.data(), static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(ctx.get(), out.data() + a, &b);
    out.resize(static_cast<std::size_t>(a + b));
    return out;
}

Bytes pkcs8Of(const Bytes& pkcs1) {
    return tlv(0x30, cat({tlv(0x02, {0}), kRsaAlgorithm, tlv(0x04, pkcs1)}));
}

// EncryptedPrivateKeyInfo: PBES2, PBKDF2 with hmacWithSHA512, AES-192-CBC.
Bytes encryptedPkcs8Of(const Bytes& pkcs8) {
    const Bytes salt = fromHex("0102030405060708"), iv = fromHex("00112233445566778899aabbccddeeff");
    Bytes key(24);
    PKCS5_PBKDF2_HMAC(kPassphrase, 7, salt.data(), static_cast<int>(salt.size()), 1000, EVP_sha512(), 24,
                      key.data());
    Bytes kdf =
        tlv(0x30,
            cat({tlv(0x06, fromHex("2a864886f70d01050c")),
                 tlv(0x30, cat({tlv(0x04, salt), tlv(0x02, fromHex("03e8")),
                                tlv(0x30, cat({tlv(0x06, fromHex("2a864886f70d020b")), tlv(0x05, {})}))}))}));
    Bytes scheme = tlv(0x30, cat({tlv(0x06, fromHex("608648016503040116")), tlv(0x04, iv)}));
    Bytes algorithm =
        tlv(0x30, cat({tlv(0x06, fromHex("2a864886f70d01050d")), tlv(0x30, cat({kdf, scheme}))}));
    return tlv(0x30, cat({algorithm, tlv(0x04, cbc(EVP_aes_192_cbc(), key, iv, pkcs8))}));
}

// An EncryptedPrivateKeyInfo of an older scheme (by default
// pbeWithSHAAnd3-KeyTripleDES-CBC) with these parameters and ciphertext.
Bytes pkcs12Info(const Bytes& params, const Bytes& ciphertext, const char* oid = "2a864886f70d010c0103") {
    Bytes algorithm = tlv(0x30, cat({tlv(0x06, fromHex(oid)), params}));
    return tlv(0x30, cat({algorithm, tlv(0x04, ciphertext)}));
}

// EncryptedPrivateKeyInfo: pbeWithSHAAnd3-KeyTripleDES-CBC, the PKCS #12
// key derivation over the passphrase as UTF-8 or (older writers) byte by
// byte; params are the DER of the scheme's parameters.
using Pkcs12Derive = decltype(&PKCS12_key_gen_utf8);
Bytes pkcs12Encrypted(const Bytes& pkcs8, const std::string& passphrase, Pkcs12Derive derive, Bytes salt,
                      int iterations, const Bytes& params, const char* oid = "2a864886f70d010c0103") {
    Bytes key(24), iv(8);
    const int length = static_cast<int>(passphrase.size()), saltLength = static_cast<int>(salt.size());
    derive(passphrase.c_str(), length, salt.data(), saltLength, 1, iterations, 24, key.data(), EVP_sha1());
    derive(passphrase.c_str(), length, salt.data(), saltLength, 2, iterations, 8, iv.data(), EVP_sha1());
    return pkcs12Info(params, cbc(EVP_des_ede3_cbc(), key, iv, pkcs8), oid);
}
Bytes pkcs12Encrypted(const Bytes& pkcs8) {
    const Bytes salt = fromHex("1122334455667788");
    return pkcs12Encrypted(pkcs8, kPassphrase, PKCS12_key_gen_utf8, salt, 2048,
                           tlv(0x30, cat({tlv(0x04, salt), tlv(0x02, fromHex("0800"))})));
}

// The traditional "RSA PRIVATE KEY" encryption, DES-EDE3-CBC.
std::string traditionalOf(const Bytes& pkcs1) {
    const Bytes iv = fromHex("0123456789abcdef");
    Bytes key(24);
    EVP_BytesToKey(EVP_des_ede3_cbc(), EVP_md5(), iv.data(),
                   reinterpret_cast<const unsigned char*>(kPassphrase), 7, 1, key.data(), nullptr);
    return pem("RSA PRIVATE KEY", cbc(EVP_des_ede3_cbc(), key, iv, pkcs1),
               "Proc-Type: 4,ENCRYPTED\nDEK-Info: DES-EDE3-CBC,0123456789ABCDEF\n\n");
}

struct Container {
    const char* name;
    std::function<Bytes(const Bytes& pkcs1)> wrap;
    bool encrypted = false;
};
const Container kContainers[] = {
    {"PKCS #1 DER", [](const Bytes& k) { return k; }},
    {"PKCS #1 PEM", [](const Bytes& k) { return bytesOf(pem("RSA PRIVATE KEY", k)); }},
    {"PKCS #8 DER", [](const Bytes& k) { return pkcs8Of(k); }},
    {"PKCS #8 PEM", [](const Bytes& k) { return bytesOf(pem("PRIVATE KEY", pkcs8Of(k))); }},
    {"encrypted PKCS #8 DER", [](const Bytes& k) { return encryptedPkcs8Of(pkcs8Of(k)); }, true},
    {"encrypted PKCS #8 PEM",
     [](const Bytes& k) { return bytesOf(pem("ENCRYPTED PRIVATE KEY", encryptedPkcs8Of(pkcs8Of(k)))); },
     true},
    {"PKCS #12-scheme encrypted PKCS #8 DER", [](const Bytes& k) { return pkcs12Encrypted(pkcs8Of(k)); },
     true},
    {"encrypted PKCS #1 PEM", [](const Bytes& k) { return bytesOf(traditionalOf(k)); }, true},
};

template <typename Record>
bool allZero(const Record& r) {
    const auto* b = reinterpret_cast<const unsigned char*>(&r);
    return std::all_of(b, b + sizeof r, [](unsigned char c) { return c == 0; });
}

}  // namespace

TEST(HostileKeys, TheSoundKeyReadsInEveryContainer) {
    Bytes der = pkcs1Of(soundKey()).der();
    for (const Container& container : kContainers) {
        R_RSA_PRIVATE_KEY key;
        KeyStatus status = loadRsaPrivateKey(container.wrap(der), key, kPassphrase);
        EXPECT_TRUE(status) << container.name << ": " << status.error.message();
    }
}

TEST(HostileKeys, EveryFaultIsRefusedInEveryContainerAndLeavesTheRecordZero) {
    const RsaComponents sound = soundKey();
    int refused = 0, tried = 0;
    for (const Hostile& h : hostileKeys()) {
        const Bytes der = h.make(sound).der();
        for (const Container& container : kContainers) {
            SCOPED_TRACE(std::string(h.name) + " in " + container.name);
            const Bytes encoded = container.wrap(der);
            R_RSA_PRIVATE_KEY priv;
            R_RSA_PUBLIC_KEY pub;
            std::memset(&priv, 0x5A, sizeof priv);
            std::memset(&pub, 0x5A, sizeof pub);
            KeyStatus privateStatus = loadRsaPrivateKey(encoded, priv, kPassphrase);
            KeyStatus publicStatus = loadRsaPublicKey(encoded, pub, kPassphrase);
            // Decrypted, every fault is one answer: no code, detail or size of its own.
            const ErrorCode code = container.encrypted ? ErrorCode::wrongPassphrase : h.code;
            tried += 2;
            refused += (privateStatus.error == code) + (publicStatus.error == code);
            EXPECT_EQ(privateStatus.error, code) << privateStatus.error.message();
            EXPECT_EQ(publicStatus.error, code) << publicStatus.error.message();
            EXPECT_EQ(privateStatus.detail == nullptr, container.encrypted);
            EXPECT_TRUE(!container.encrypted || privateStatus.modulusBits == 0);
            EXPECT_TRUE(allZero(priv));
            EXPECT_TRUE(allZero(pub));
            // The message says each thing once.
            cv::ErrorInfo error;
            EXPECT_FALSE(cv::RsaPrivateKey::fromEncoded(encoded, kPassphrase, {}, error));
            EXPECT_EQ(repeatedPhrase(error.message), "") << error.message;
        }
    }
    std::cout << "hostile forms refused with their code: " << refused << " of " << tried << "\n";
}

TEST(HostileKeys, RecordsWithTheFaultsAreRefusedByFromRecordAndTheWriters) {
    const RsaComponents sound = soundKey();
    auto check = [](const char* name, const R_RSA_PRIVATE_KEY& record, ErrorCode code) {
        SCOPED_TRACE(name);
        try {
            (void)v1::RsaPrivateKey::fromRecord(record);
            ADD_FAILURE() << "fromRecord took it";
        } catch (const v1::Error& error) {
            EXPECT_EQ(error.code(), code);
        }
        std::string text;
        std::vector<std::uint8_t> der;
        EXPECT_EQ(rsaPrivateKeyToPem(record, text), code);
        EXPECT_EQ(rsaPrivateKeyToDer(record, der, RsaKeyFormat::pkcs1), code);
        EXPECT_TRUE(text.empty());
    };
    for (const Hostile& h : hostileKeys()) {
        if (!h.valuesOnly) continue;
        // The values the hostile DER holds, taken from its INTEGER fields.
        Pkcs1 k = h.make(sound);
        auto value = [&](int f) {
            const Bytes& t = k.fields[f];
            std::size_t header = t[1] < 0x80 ? 2 : 2 + (t[1] & 0x7F);
            Bytes v(t.begin() + static_cast<std::ptrdiff_t>(header), t.end());
            while (v.size() > 1 && v[0] == 0) v.erase(v.begin());
            return v;
        };
        RsaComponents c = {value(kN), value(kE),  value(kD),  value(kP),
                           value(kQ), value(kDP), value(kDQ), value(kQInv)};
        R_RSA_PUBLIC_KEY unused{};
        R_RSA_PRIVATE_KEY record{};
        ASSERT_TRUE(fillRsaRecords(c, &unused, &record)) << h.name;
        check(h.name, record, h.code);
    }
    R_RSA_PUBLIC_KEY unused{};
    R_RSA_PRIVATE_KEY record{};
    ASSERT_TRUE(fillRsaRecords(sound, &unused, &record));
    EXPECT_NO_THROW((void)v1::RsaPrivateKey::fromRecord(record));
    record.bits = static_cast<std::uint16_t>(record.bits - 1);
    check("bits is not the modulus's", record, ErrorCode::keyInconsistent);
}

TEST(HostileKeys, PublicKeysWithAnUnusableExponentOrModulusAreRefusedEverywhere) {
    const RsaComponents sound = soundKey();
    const struct {
        const char* name;
        Bytes n, e;
    } cases[] = {
        {"e = 1", sound.n, {1}},
        {"e = 2", sound.n, {2}},
        {"even e", sound.n, {1, 0, 2}},
        {"even n", plusSmall(sound.n, 1), sound.e},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes pkcs1 = tlv(0x30, cat({tlv(0x02, integerContents(c.n)), tlv(0x02, integerContents(c.e))}));
        Bytes spki = tlv(0x30, cat({kRsaAlgorithm, tlv(0x03, cat({Bytes{0}, pkcs1}))}));
        for (const Bytes& encoded : {pkcs1, spki, bytesOf(pem("PUBLIC KEY", spki))}) {
            R_RSA_PUBLIC_KEY key;
            std::memset(&key, 0x5A, sizeof key);
            EXPECT_EQ(loadRsaPublicKey(encoded, key).error, ErrorCode::keyInvalid);
            EXPECT_TRUE(allZero(key));
        }
        R_RSA_PUBLIC_KEY key;
        EXPECT_EQ(rsaPublicKeyFromHex(toHex(c.n), toHex(c.e), key).error, ErrorCode::keyInvalid);
        R_RSA_PUBLIC_KEY record{};
        record.bits = 512;
        std::copy(c.n.begin(), c.n.end(), record.modulus + sizeof record.modulus - c.n.size());
        std::copy(c.e.begin(), c.e.end(), record.exponent + sizeof record.exponent - c.e.size());
        EXPECT_THROW((void)v1::RsaPublicKey::fromRecord(record), v1::Error);
        std::string text;
        EXPECT_EQ(rsaPublicKeyToPem(record, text), ErrorCode::keyInvalid);
    }
}

TEST(HostileKeys, OlderSchemeParametersAreReadStrictly) {
    const Bytes pkcs8 = pkcs8Of(pkcs1Of(soundKey()).der());
    const Bytes salt = fromHex("1122334455667788");
    const std::string accented = "p\xC3\xA4ss";  // UTF-8 for "päss"
    auto params = [&](const Bytes& iterations, const Bytes& extra = {}) {
        return tlv(0x30, cat({tlv(0x04, salt), tlv(0x02, iterations), extra}));
    };
    auto withScheme = [&](const char* oid, const Bytes& schemeParams) {
        return pkcs12Encrypted(pkcs8, kPassphrase, PKCS12_key_gen_utf8, salt, 1, schemeParams, oid);
    };
    const struct {
        const char* name;
        Bytes der;
        std::string passphrase;
        ErrorCode code;
    } cases[] = {
        {"UTF-8 passphrase", pkcs12Encrypted(pkcs8, accented, PKCS12_key_gen_utf8, salt, 3, params({3})),
         accented, ErrorCode::ok},
        {"byte-widened passphrase",
         pkcs12Encrypted(pkcs8, accented, PKCS12_key_gen_asc, salt, 3, params({3})), accented, ErrorCode::ok},
        {"zero iterations", pkcs12Encrypted(pkcs8, kPassphrase, PKCS12_key_gen_utf8, salt, 1, params({0})),
         kPassphrase, ErrorCode::keyUnreadable},
        {"non-minimal iterations",
         pkcs12Encrypted(pkcs8, kPassphrase, PKCS12_key_gen_utf8, salt, 1, params({0, 1})), kPassphrase,
         ErrorCode::keyMalformed},
        {"an element after the iterations",
         pkcs12Encrypted(pkcs8, kPassphrase, PKCS12_key_gen_utf8, salt, 1, params({1}, tlv(0x05, {}))),
         kPassphrase, ErrorCode::keyMalformed},
        {"wrong passphrase", pkcs12Encrypted(pkcs8, "other", PKCS12_key_gen_utf8, salt, 1, params({1})),
         kPassphrase, ErrorCode::wrongPassphrase},
        {"PBES1 salt of seven bytes",
         withScheme("2a864886f70d01050a", tlv(0x30, cat({tlv(0x04, Bytes(7, 1)), tlv(0x02, {1})}))),
         kPassphrase, ErrorCode::keyUnreadable},
        {"RC2 scheme", withScheme("2a864886f70d010c0105", params({1})), kPassphrase,
         ErrorCode::keyUnreadable},
        {"unknown scheme", withScheme("2a864886f70d010c0109", params({1})), kPassphrase,
         ErrorCode::keyUnreadable},
    };
    for (const auto& c : cases) {
        R_RSA_PRIVATE_KEY key;
        KeyStatus status = loadRsaPrivateKey(c.der, key, c.passphrase);
        EXPECT_EQ(status ? ErrorCode::ok : static_cast<ErrorCode>(status.error.value()), c.code) << c.name;
    }
}

// What an encrypted key shows before it is decrypted is told precisely and
// before the passphrase is asked for: an iteration count above the limit
// (the caller's, or the default), a ciphertext that is empty, not whole
// blocks, or too long for any key the records hold. The callback is told
// the scheme and the count, and may decline on them.
TEST(HostileKeys, WhatShowsBeforeDecryptionIsToldBeforeThePassphraseIsAsked) {
    const Bytes pkcs8 = pkcs8Of(pkcs1Of(soundKey()).der()), salt = fromHex("1122334455667788");
    auto params = [&](const Bytes& iterations) { return tlv(0x30, cat({tlv(0x04, salt), tlv(0x02, iterations)})); };
    const Bytes three = pkcs12Encrypted(pkcs8, kPassphrase, PKCS12_key_gen_utf8, salt, 3, params({3}));
    const std::string damagedTraditional = pem("RSA PRIVATE KEY", Bytes(20, 7),
                                               "Proc-Type: 4,ENCRYPTED\nDEK-Info: AES-128-CBC,"
                                               "00112233445566778899AABBCCDDEEFF\n\n");
    const struct {
        const char* name;
        Bytes file;
        std::uint32_t limit, declineAbove;
        ErrorCode code;
        bool asked;
    } cases[] = {
        {"3 iterations, limit 3", three, 3, 3, ErrorCode::ok, true},
        {"3 iterations, limit 2", three, 2, 3, ErrorCode::keyTooCostly, false},
        {"3 iterations, declined by the callback", three, 3, 2, ErrorCode::keyEncrypted, true},
        {"1,000,001 iterations, the default limit", pkcs12Info(params(fromHex("0f4241")), Bytes(344, 1)),
         kDefaultMaxKeyIterations, UINT32_MAX, ErrorCode::keyTooCostly, false},
        {"no ciphertext", pkcs12Info(params({3}), {}), 3, 3, ErrorCode::keyDamaged, false},
        {"a ciphertext of 17 bytes", pkcs12Info(params({3}), Bytes(17, 1)), 3, 3, ErrorCode::keyDamaged, false},
        {"traditional, 20 bytes of AES", bytesOf(damagedTraditional), 3, 3, ErrorCode::keyDamaged, false},
        {"a ciphertext of 1032 bytes", pkcs12Info(params({3}), Bytes(1032, 1)), 3, 3, ErrorCode::keyTooLarge,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int asked = 0;
        KeyEncryption told;
        KeyPassphrase passphrase([&](std::span<char> buffer, const KeyEncryption& encryption) -> std::size_t {
            asked++;
            told = encryption;
            if (encryption.iterations > c.declineAbove) return 0;
            std::memcpy(buffer.data(), kPassphrase, std::strlen(kPassphrase));
            return std::strlen(kPassphrase);
        });
        R_RSA_PRIVATE_KEY key;
        KeyReadOptions options;
        options.maxIterations = c.limit;
        const KeyStatus status = loadRsaPrivateKey(c.file, key, passphrase, options);
        EXPECT_EQ(status ? ErrorCode::ok : static_cast<ErrorCode>(status.error.value()), c.code);
        EXPECT_EQ(asked, c.asked ? 1 : 0);
        EXPECT_EQ(status.modulusBits, c.code == ErrorCode::ok ? 512u : 0u);
        if (!c.asked) continue;
        EXPECT_STREQ(told.scheme, "pbeWithSHAAnd3-KeyTripleDES-CBC");
        EXPECT_STREQ(told.derivation, "PKCS #12 derivation with SHA-1");
        EXPECT_STREQ(told.cipher, "DES-EDE3-CBC");
        EXPECT_EQ(told.iterations, 3u);
        EXPECT_EQ(status.iterations, 3u);
    }
}
