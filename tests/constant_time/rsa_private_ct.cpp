// Constant-time check of the private-key operations, run under valgrind
// memcheck (see tests/CMakeLists.txt and allowed_sites.supp).
//
// The secret fields of fixed keys (private exponent, primes, prime exponents,
// coefficient) are marked undefined. Memcheck then reports every
// conditional jump and every memory address that depends on them, so a run
// without reports shows that no branch and no memory index of
// QV_RSAPrivateDecrypt and QV_RSAPrivateEncrypt depends on the key, beyond
// the few sites that allowed_sites.supp lists. Both operations run at 512
// and 1024 bits, with the larger and with the smaller prime first, on
// well-formed and malformed blocks. Results are made defined again before
// this program looks at them (they are public once released), and checked
// through the public-key operations, so the run also shows that the answers
// are right.
//
// With --documented-steps it instead runs one decryption by the documented
// steps alone, which branch on the key everywhere: a control that the
// marking works, registered as a test that must see reports.
//
// With --implicit-rejection it runs the decryptions that never report the
// padding (the key unwrap and implicit rejection of the modern layer) on
// well-formed, malformed and wrong-length blocks, and also hands them
// decrypted blocks that are themselves marked undefined: registered without
// any allowed site, since they have no status to release (the length of an
// implicit-rejection result is public, and made so in one place).
#include <Corvane/r_random.h>
#include <Corvane/rsa.h>
#include <valgrind/memcheck.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "modern/rsa/implicit_rejection.h"
#include "myrsa/rsa_blocks.h"
#include "myrsa/rsa_seams.h"
#include "platform/secure_zero.h"
#include "tests/support/test_support.h"

using corvane::test::Bytes;

namespace {

struct KeyPair {
    std::string name;
    R_RSA_PUBLIC_KEY publicKey{};
    R_RSA_PRIVATE_KEY privateKey{};
    std::uint32_t modulusLen = 0;
};

void put(unsigned char* field, std::size_t length, const std::string& hex) {
    const Bytes value = corvane::test::fromHex(hex);
    std::memset(field, 0, length);
    std::memcpy(field + length - value.size(), value.data(), value.size());
}

std::vector<KeyPair> loadKeys() {
    std::vector<KeyPair> keys;
    for (auto& r : corvane::test::readVecFile(corvane::test::ourVector("constant_time_keys.vec"))) {
        for (bool largerFirst : {true, false}) {
            KeyPair k;
            const auto bits = static_cast<std::uint16_t>(std::stoul(r.at("bits")));
            k.name = r.at("bits") + " bits, " + (largerFirst ? "larger" : "smaller") + " prime first";
            k.modulusLen = (bits + 7u) / 8u;
            k.publicKey.bits = k.privateKey.bits = bits;
            put(k.publicKey.modulus, MAX_RSA_MODULUS_LEN, r.at("n"));
            put(k.publicKey.exponent, MAX_RSA_MODULUS_LEN, r.at("e"));
            R_RSA_PRIVATE_KEY& key = k.privateKey;
            put(key.modulus, MAX_RSA_MODULUS_LEN, r.at("n"));
            put(key.publicExponent, MAX_RSA_MODULUS_LEN, r.at("e"));
            put(key.privateExponent, MAX_RSA_MODULUS_LEN, r.at("d"));
            put(key.prime[0], MAX_RSA_PRIME_LEN, r.at(largerFirst ? "p" : "q"));
            put(key.prime[1], MAX_RSA_PRIME_LEN, r.at(largerFirst ? "q" : "p"));
            put(key.primeExponent[0], MAX_RSA_PRIME_LEN, r.at(largerFirst ? "dP" : "dQ"));
            put(key.primeExponent[1], MAX_RSA_PRIME_LEN, r.at(largerFirst ? "dQ" : "dP"));
            put(key.coefficient, MAX_RSA_PRIME_LEN, r.at(largerFirst ? "qInvModP" : "pInvModQ"));
            keys.push_back(k);
        }
    }
    return keys;
}

void markSecret(R_RSA_PRIVATE_KEY& key) {
    VALGRIND_MAKE_MEM_UNDEFINED(key.privateExponent, sizeof key.privateExponent);
    VALGRIND_MAKE_MEM_UNDEFINED(key.prime, sizeof key.prime);
    VALGRIND_MAKE_MEM_UNDEFINED(key.primeExponent, sizeof key.primeExponent);
    VALGRIND_MAKE_MEM_UNDEFINED(key.coefficient, sizeof key.coefficient);
}

// What an operation released: public from here on.
template <typename T>
void released(T& value) {
    VALGRIND_MAKE_MEM_DEFINED(&value, sizeof value);
}

int failures = 0;

void expect(bool ok, const std::string& what) {
    if (ok) return;
    std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    failures++;
}

R_RANDOM_STRUCT seededPool() {
    R_RANDOM_STRUCT pool;
    QV_R_RandomInit(&pool);
    unsigned char seed[256];
    for (unsigned i = 0; i < sizeof seed; i++) seed[i] = static_cast<unsigned char>(i * 7 + 1);
    QV_R_RandomUpdate(&pool, seed, sizeof seed);
    return pool;
}

// Encrypts under the public key, decrypts under the marked private key.
void decryptionRoundTrip(const KeyPair& k, const Bytes& message, R_RANDOM_STRUCT& pool) {
    unsigned char block[MAX_RSA_MODULUS_LEN], out[MAX_RSA_MODULUS_LEN];
    std::uint32_t blockLen = 0, outLen = 0;
    const auto len = static_cast<std::uint32_t>(message.size());
    expect(QV_RSAPublicEncrypt(block, &blockLen, message.data(), len, &k.publicKey, &pool) == 0,
           "encryption");
    std::int32_t status = QV_RSAPrivateDecrypt(out, &outLen, block, blockLen, &k.privateKey);
    released(status);
    released(outLen);
    released(out);
    expect(status == 0 && outLen == len && std::memcmp(out, message.data(), len) == 0,
           k.name + ": decryption of " + std::to_string(len) + " bytes");
}

// Signs under the marked private key, recovers under the public key.
void signatureRoundTrip(const KeyPair& k, const Bytes& message) {
    unsigned char signature[MAX_RSA_MODULUS_LEN], out[MAX_RSA_MODULUS_LEN];
    std::uint32_t signatureLen = 0, outLen = 0;
    const auto len = static_cast<std::uint32_t>(message.size());
    std::int32_t status = QV_RSAPrivateEncrypt(signature, &signatureLen, message.data(), len, &k.privateKey);
    released(status);
    released(signatureLen);
    released(signature);
    expect(status == 0 && signatureLen == k.modulusLen, k.name + ": private-key encryption");
    status = QV_RSAPublicDecrypt(out, &outLen, signature, signatureLen, &k.publicKey);
    expect(status == 0 && outLen == len && std::memcmp(out, message.data(), len) == 0,
           k.name + ": recovery of " + std::to_string(len) + " bytes");
}

// Malformed type-2 blocks, made into ciphertexts with the raw public
// operation: each must be refused without a report.
void malformedBlocks(const KeyPair& k) {
    const std::uint32_t len = k.modulusLen;
    // 00, type, filler of 0x5A, and a separator at `separator` unless 0.
    auto block = [len](unsigned char type, std::uint32_t separator) {
        Bytes b(len, 0x5A);
        b[0] = 0;
        b[1] = type;
        if (separator != 0) b[separator] = 0;
        return b;
    };
    Bytes noise(len);
    for (std::uint32_t i = 0; i < len; i++) noise[i] = static_cast<unsigned char>(i * 37 + 11);
    noise[0] = 0;
    const std::vector<Bytes> blocks = {block(2, 0), block(2, 9), block(1, 20), block(0, 20), noise};
    for (const Bytes& b : blocks) {
        unsigned char c[MAX_RSA_MODULUS_LEN], out[MAX_RSA_MODULUS_LEN];
        std::uint32_t cLen = 0, outLen = 0;
        expect(corvane::test_seams::rsa_public_raw(c, &cLen, b.data(), len, &k.publicKey, false) == 0,
               "raw public operation");
        std::int32_t status = QV_RSAPrivateDecrypt(out, &outLen, c, cLen, &k.privateKey);
        released(status);
        expect(status == QV_STATUS_BAD_DATA, k.name + ": malformed block refused");
    }
}

// The batches of the key objects, on the key prepared once from the marked
// record: blocks to decrypt (two good, one malformed) and messages to sign.
void batchRoundTrip(const KeyPair& k, R_RANDOM_STRUCT& pool) {
    namespace blocks = corvane::rsa_blocks;
    corvane::engine::PreparedPrivateKey prepared;
    blocks::prepare(prepared, k.privateKey);
    const Bytes message = {'b', 'a', 't', 'c', 'h'};
    const auto len = static_cast<std::uint32_t>(message.size());
    unsigned char c[3][MAX_RSA_MODULUS_LEN];
    std::uint32_t cLen = 0;
    for (auto& block : c)
        expect(QV_RSAPublicEncrypt(block, &cLen, message.data(), len, &k.publicKey, &pool) == 0, "encryption");
    c[2][k.modulusLen - 1] ^= 1;  // decrypts to noise

    blocks::BatchItem items[3];
    for (int i = 0; i < 3; i++) {
        items[i].input = c[i];
        items[i].inputLen = cLen;
    }
    blocks::privateDecryptBatch(items, 3, k.privateKey, prepared);
    for (auto& item : items) {
        released(item);
    }
    for (int i = 0; i < 2; i++)
        expect(items[i].status == 0 && items[i].outputLen == len && std::memcmp(items[i].output, message.data(), len) == 0,
               k.name + ": batch decryption");
    expect(items[2].status == QV_STATUS_BAD_DATA, k.name + ": batch refuses the malformed block");

    for (auto& item : items) {
        item.input = message.data();
        item.inputLen = len;
    }
    blocks::privateEncryptBatch(items, 3, k.privateKey, prepared);
    for (auto& item : items) {
        released(item);
        unsigned char out[MAX_RSA_MODULUS_LEN];
        std::uint32_t outLen = 0;
        expect(item.status == 0 && QV_RSAPublicDecrypt(out, &outLen, item.output, item.outputLen, &k.publicKey) == 0 &&
                   outLen == len && std::memcmp(out, message.data(), len) == 0,
               k.name + ": batch signature");
    }
    corvane::secure_zero_object(prepared);
}

// The modern layer's decryptions that hide the padding, on the key set up
// from the marked record: every block gives an answer without a report.
void implicitRejection(const KeyPair& k, R_RANDOM_STRUCT& pool) {
    namespace detail = corvane::detail;
    detail::PrivateKeySetUp setUp;
    expect(!detail::preparePrivateKey(setUp, k.privateKey), "set-up");
    const std::uint32_t len = k.modulusLen;
    std::vector<Bytes> blocks;
    for (std::uint32_t messageLen : {24u, 23u, 0u, len - 11}) {
        Bytes message(messageLen, 0x24), c(MAX_RSA_MODULUS_LEN);
        std::uint32_t cLen = 0;
        expect(QV_RSAPublicEncrypt(c.data(), &cLen, message.data(), messageLen, &k.publicKey, &pool) == 0,
               "encryption");
        c.resize(cLen);
        blocks.push_back(c);
    }
    Bytes noise(len, 0x5A);
    noise[0] = 0;
    blocks.push_back(noise);
    for (const Bytes& c : blocks) {
        unsigned char out[MAX_RSA_MODULUS_LEN];
        std::size_t outLen = 0;
        std::error_code error = detail::decryptKey(k.privateKey, setUp, c.data(), c.size(), out, 24);
        released(error);
        released(out);
        expect(!error, k.name + ": key unwrapped");
        error = detail::decryptImplicit(k.privateKey, setUp, c.data(), c.size(), out, &outLen);
        released(error);
        released(out);
        expect(!error, k.name + ": implicit rejection");
    }
    // Decrypted blocks that are secret themselves: well formed with 24
    // bytes of message, and malformed in each field.
    for (int variant = 0; variant < 4; variant++) {
        Bytes em(len, 0x33);
        em[0] = variant == 1 ? 1 : 0;
        em[1] = variant == 2 ? 1 : 2;
        em[len - 25] = variant == 3 ? 7 : 0;
        VALGRIND_MAKE_MEM_UNDEFINED(em.data(), em.size());
        unsigned char out[MAX_RSA_MODULUS_LEN];
        std::size_t outLen = 0;
        std::error_code error =
            detail::keyOrSubstitute(em.data(), len, blocks[0].data(), setUp.rejectionSecret, out, 24);
        released(error);
        error = detail::implicitMessage(em.data(), len, blocks[0].data(), len, setUp.rejectionSecret, out, &outLen);
        released(error);
        released(outLen);
        expect(!error, k.name + ": implicit message of a secret block");
    }
    corvane::secure_zero_object(setUp);
}

}  // namespace

int main(int argc, char** argv) {
    const bool documentedSteps = argc > 1 && std::string(argv[1]) == "--documented-steps";
    std::vector<KeyPair> keys = loadKeys();
    R_RANDOM_STRUCT pool = seededPool();

    if (documentedSteps) {
        KeyPair& k = keys.front();
        markSecret(k.privateKey);
        unsigned char block[MAX_RSA_MODULUS_LEN] = {1}, out[MAX_RSA_MODULUS_LEN];
        std::uint32_t outLen = 0;
        std::int32_t status =
            corvane::test_seams::rsa_private_raw(out, &outLen, block, k.modulusLen, &k.privateKey, true);
        released(status);
        std::printf("documented steps ran, status %d\n", status);
        return 0;
    }

    if (argc > 1 && std::string(argv[1]) == "--implicit-rejection") {
        for (KeyPair& k : keys) {
            markSecret(k.privateKey);
            implicitRejection(k, pool);
        }
        std::printf("%zu keys, %d failures\n", keys.size(), failures);
        return failures == 0 ? 0 : 1;
    }

    for (KeyPair& k : keys) {
        markSecret(k.privateKey);
        const std::uint32_t maxLen = k.modulusLen - 11;
        for (std::uint32_t len : {0u, 1u, 20u, maxLen}) {
            Bytes message(len);
            for (std::uint32_t i = 0; i < len; i++) message[i] = static_cast<unsigned char>(len + 3 * i);
            decryptionRoundTrip(k, message, pool);
            signatureRoundTrip(k, message);
        }
        malformedBlocks(k);
        batchRoundTrip(k, pool);
    }
    std::printf("%zu keys, %d failures\n", keys.size(), failures);
    return failures == 0 ? 0 : 1;
}
