// After a private-key operation returns, the stack it ran on must hold
// nothing derived from the key. Each operation runs from one fixed frame
// over stack painted beforehand; then the dead stack below that frame is
// copied out and searched for every 16-byte window of every key-derived
// value (primes, prime exponents, coefficient, R mod p and R^2 mod p for
// the engine's R on 64-bit, 32-bit and 52-bit limbs, the CRT's
// intermediates, the secret and derived key of implicit rejection, and an
// envelope's triple-DES key), in each limb size and byte order the engine could hold
// it in. 16 random bytes never match by chance; any hit is a leak.
//
// Runs on whichever tier CORVANE_CPU selects (CI runs it on each). Under
// AddressSanitizer or ThreadSanitizer locals live in the sanitizer's own
// frames, not on this stack, so the scan would prove nothing: it skips.
#include <Corvane/keys.h>
#include <Corvane/r_random.h>
#include <Corvane/rsa.h>
#include <gmp.h>
#include <gtest/gtest.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <Corvane/corvane.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_set>
#include <vector>

#include "modern/rsa/implicit_rejection.h"
#include "myrsa/rsa_blocks.h"
#include "myrsa/rsa_seams.h"
#include "platform/secure_zero.h"
#include "tests/support/dead_stack.h"
#include "tests/support/nn_testing.h"
#include "tests/support/rsa/rsa_calls.h"
#include "tests/support/rsa/rsa_keys.h"

using namespace corvane::test;
using dead_stack::kPaint;
using dead_stack::kScanBytes;

namespace {

constexpr std::size_t kWindow = 16;

// How deep below the fixed frame anything was written.
std::size_t depthWritten(const Bytes& stack) {
    std::size_t i = 0;
    while (i < stack.size() && stack[i] == kPaint) i++;
    return stack.size() - i;
}

Mpz mpzOfBytes(const unsigned char* bigEndian, std::size_t length) {
    Mpz x;
    mpz_import(x.get(), length, 1, 1, 0, 0, bigEndian);
    return x;
}

Mpz power2(std::size_t bits) {
    Mpz x;
    mpz_setbit(x.get(), bits);
    return x;
}

Mpz mod(const Mpz& a, const Mpz& m) {
    Mpz r;
    mpz_mod(r.get(), a.get(), m.get());
    return r;
}

Mpz mulMod(const Mpz& a, const Mpz& b, const Mpz& m) {
    Mpz r;
    mpz_mul(r.get(), a.get(), b.get());
    mpz_mod(r.get(), r.get(), m.get());
    return r;
}

// x as limbs of `limbBits` bits (32, 52 or 64), least significant first,
// each in a 4- or 8-byte slot in either byte order; `limbs` slots.
Bytes limbBytes(const Mpz& x, unsigned limbBits, std::size_t limbs, bool bigEndianSlots) {
    const std::size_t slot = limbBits == 32 ? 4 : 8;
    Bytes out;
    for (std::size_t i = 0; i < limbs; i++) {
        Mpz limb;
        mpz_fdiv_q_2exp(limb.get(), x.get(), limbBits * i);
        mpz_fdiv_r_2exp(limb.get(), limb.get(), limbBits);
        Mpz high;  // unsigned long may hold only 32 bits: the limb in two halves
        mpz_fdiv_q_2exp(high.get(), limb.get(), 32);
        const unsigned long long v = (static_cast<unsigned long long>(mpz_get_ui(high.get()) & 0xFFFFFFFFu) << 32) |
                                     (mpz_get_ui(limb.get()) & 0xFFFFFFFFu);
        for (std::size_t b = 0; b < slot; b++) {
            const std::size_t shift = 8 * (bigEndianSlots ? slot - 1 - b : b);
            out.push_back(static_cast<unsigned char>(v >> shift));
        }
    }
    return out;
}

// Every way the value may sit in memory: the package's big-endian bytes,
// and 32-, 52- and 64-bit limbs in either byte order.
std::vector<Bytes> representations(const Mpz& x, std::size_t bits) {
    const std::size_t words64 = (bits + 63) / 64, limbs52 = (bits + 2 + 51) / 52 + 1;
    Bytes bigEndian = limbBytes(x, 64, words64, false);
    std::reverse(bigEndian.begin(), bigEndian.end());
    return {bigEndian,
            limbBytes(x, 64, words64, false),  // also the 32-bit limbs, little-endian
            limbBytes(x, 32, 2 * words64, true),
            limbBytes(x, 64, words64, true),
            limbBytes(x, 52, limbs52, false),
            limbBytes(x, 52, limbs52, true)};
}

// A window of mostly zero or all-ones bytes could match padding by
// chance; such windows are not searched for.
bool distinctive(const unsigned char* w) {
    int zeros = 0, ones = 0;
    for (std::size_t i = 0; i < kWindow; i++) {
        zeros += w[i] == 0;
        ones += w[i] == 0xFF;
    }
    return zeros <= 4 && ones <= 4;
}

// The triple-DES key of the envelope the scan opens.
const unsigned char kEnvelopeKey[24] = {0x3a, 0x91, 0x5c, 0xe7, 0x28, 0xb4, 0x6d, 0xf0, 0x17, 0x83, 0xc9, 0x4e,
                                        0xa2, 0x35, 0xdb, 0x60, 0x8f, 0x1c, 0x74, 0xe9, 0x52, 0xbd, 0x06, 0xca};

struct Secret {
    std::string name;
    Mpz value;
    std::size_t bits;  // of the modulus it belongs to
};

// What a private operation on input c may leave behind: the key's own
// fields and everything the CRT derives from them for this input.
std::vector<Secret> keyDerived(const R_RSA_PRIVATE_KEY& key, const Bytes& c) {
    const Mpz p = mpzOfBytes(key.prime[0], MAX_RSA_PRIME_LEN), q = mpzOfBytes(key.prime[1], MAX_RSA_PRIME_LEN);
    const Mpz dP = mpzOfBytes(key.primeExponent[0], MAX_RSA_PRIME_LEN);
    const Mpz dQ = mpzOfBytes(key.primeExponent[1], MAX_RSA_PRIME_LEN);
    const Mpz qInv = mpzOfBytes(key.coefficient, MAX_RSA_PRIME_LEN);
    const Mpz input = mpzOfBytes(c.data(), c.size());
    const std::size_t bits = std::max(mpz_sizeinbase(p.get(), 2), mpz_sizeinbase(q.get(), 2));
    const std::size_t digits = (bits + 31) / 32, words64 = (digits + 1) / 2;
    const std::size_t limbs52 = (64 * words64 + 2 + 51) / 52;
    // The engine's R for 64-bit words, 32-bit words, and the IFMA's digits.
    const Mpz r64 = power2(64 * words64), r32 = power2(32 * digits), r52 = power2(52 * limbs52);
    const Mpz intoIfma = power2(104 * limbs52 - 64 * words64);

    std::vector<Secret> out = {{"p", p, bits},   {"q", q, bits},      {"dP", dP, bits},
                               {"dQ", dQ, bits}, {"qInv", qInv, bits}};
    Mpz mP, mQ;
    for (int which = 0; which < 2; which++) {
        const Mpz& m = which == 0 ? p : q;
        const std::string of = which == 0 ? " mod p" : " mod q";
        for (const auto& [name, r] : {std::pair<std::string, const Mpz&>{"R64", r64},
                                      {"R32", r32},
                                      {"R52", r52}}) {
            out.push_back({name + of, mod(r, m), bits});
            out.push_back({name + "^2" + of, mulMod(r, r, m), bits});
        }
        out.push_back({"IFMA conversion factor" + of, mod(intoIfma, m), bits});
        const Mpz cm = mod(input, m);
        Mpz mx;
        mpz_powm(mx.get(), cm.get(), (which == 0 ? dP : dQ).get(), m.get());
        out.push_back({"c" + of, cm, bits});
        out.push_back({"c*R64" + of, mulMod(cm, r64, m), bits});
        out.push_back({"c^d" + of, mx, bits});
        out.push_back({"c^d*R64" + of, mulMod(mx, r64, m), bits});
        (which == 0 ? mP : mQ) = mx;
    }
    Mpz h;
    mpz_sub(h.get(), mP.get(), mQ.get());
    out.push_back({"(mP - mQ) * qInv mod p", mulMod(h, qInv, p), bits});

    // The secret behind implicit rejection (SHA-256 of d as k bytes) and the
    // key it derives for this input (HMAC over the input padded to k bytes).
    const std::size_t k = (key.bits + 7u) / 8u;
    unsigned char secret[32], kdk[32];
    SHA256(key.privateExponent + MAX_RSA_MODULUS_LEN - k, k, secret);
    Bytes padded(k - std::min(k, c.size()), 0);
    padded.insert(padded.end(), c.begin(), c.end());
    HMAC(EVP_sha256(), secret, sizeof secret, padded.data(), padded.size(), kdk, nullptr);
    out.push_back({"rejection secret", mpzOfBytes(secret, sizeof secret), 256});
    out.push_back({"key-derivation key of the input", mpzOfBytes(kdk, sizeof kdk), 256});
    out.push_back({"an envelope's triple-DES key", mpzOfBytes(kEnvelopeKey, sizeof kEnvelopeKey), 192});
    return out;
}

// Hits per secret: how many of its windows occur anywhere in the stack.
std::map<std::string, unsigned> hitsIn(const Bytes& stack, const std::vector<Secret>& secrets) {
    std::unordered_set<std::string_view> windows;
    for (std::size_t i = 0; i + kWindow <= stack.size(); i++)
        windows.emplace(reinterpret_cast<const char*>(stack.data() + i), kWindow);
    std::map<std::string, unsigned> hits;
    for (const Secret& s : secrets) {
        if (mpz_sgn(s.value.get()) == 0) continue;
        for (const Bytes& rep : representations(s.value, s.bits))
            for (std::size_t i = 0; i + kWindow <= rep.size(); i++)
                if (distinctive(&rep[i]) &&
                    windows.count(std::string_view(reinterpret_cast<const char*>(&rep[i]), kWindow)) != 0)
                    hits[s.name]++;
    }
    return hits;
}

struct Operation {
    const char* name;
    Bytes (*input)(const RsaKey&, const R_RSA_PRIVATE_KEY&);  // the number the CRT exponentiates
    void (*run)(const R_RSA_PRIVATE_KEY&, const Bytes&);      // the operation on that input
    // Whether the RSA scrub is the operation's last step (an envelope ends
    // in the triple-DES engine, whose own hygiene des3_stack_scan_test checks).
    bool endsWithScrub = true;
};

Bytes ciphertextFor(const RsaKey& key, const R_RSA_PRIVATE_KEY&) {
    R_RANDOM_STRUCT pool = seededTestPool(0x5cab);
    const RsaResult c = callPublicEncrypt(key.publicKey, bytesOf("stack scan"), pool);
    if (c.status != 0) throw std::runtime_error("encryption failed");
    return c.out;
}

// The wrapped key of an envelope: kEnvelopeKey in a type-2 block.
Bytes envelopeKeyFor(const RsaKey& key, const R_RSA_PRIVATE_KEY&) {
    R_RANDOM_STRUCT pool = seededTestPool(0x5cac);
    const RsaResult c = callPublicEncrypt(key.publicKey, Bytes(kEnvelopeKey, kEnvelopeKey + 24), pool);
    if (c.status != 0) throw std::runtime_error("encryption failed");
    return c.out;
}

const Bytes kMessage = bytesOf("a message to sign");

// The type-1 block that private-key encryption of kMessage exponentiates.
Bytes signatureBlockFor(const RsaKey& key, const R_RSA_PRIVATE_KEY&) {
    Bytes block(key.modulusLen(), 0xFF);
    block[0] = 0;
    block[1] = 1;
    block[block.size() - kMessage.size() - 1] = 0;
    std::copy(kMessage.begin(), kMessage.end(), block.end() - static_cast<long>(kMessage.size()));
    return block;
}

const Operation kOperations[] = {
    {"private decryption", ciphertextFor,
     [](const R_RSA_PRIVATE_KEY& key, const Bytes& c) {
         unsigned char out[MAX_RSA_MODULUS_LEN];
         std::uint32_t outLen = 0;
         if (QV_RSAPrivateDecrypt(out, &outLen, c.data(), static_cast<std::uint32_t>(c.size()), &key) != 0)
             throw std::runtime_error("decryption failed");
     }},
    {"private encryption", signatureBlockFor,
     [](const R_RSA_PRIVATE_KEY& key, const Bytes&) {
         unsigned char out[MAX_RSA_MODULUS_LEN];
         std::uint32_t outLen = 0;
         if (QV_RSAPrivateEncrypt(out, &outLen, kMessage.data(), static_cast<std::uint32_t>(kMessage.size()),
                                  &key) != 0)
             throw std::runtime_error("private encryption failed");
     }},
    {"batch on a key prepared once", ciphertextFor,
     [](const R_RSA_PRIVATE_KEY& key, const Bytes& c) {
         // As the key objects run it; the object's own storage is wiped
         // with it, as the set-up is here.
         corvane::engine::PreparedPrivateKey prepared;
         corvane::rsa_blocks::prepare(prepared, key);
         corvane::rsa_blocks::BatchItem items[8];  // every lane of both groups
         for (auto& item : items) {
             item.input = c.data();
             item.inputLen = static_cast<std::uint32_t>(c.size());
         }
         corvane::rsa_blocks::privateDecryptBatch(items, 8, key, prepared);
         bool decrypted = true;
         for (const auto& item : items) decrypted = decrypted && item.status == 0;
         corvane::secure_zero_object(prepared);
         corvane::secure_zero_object(items);
         if (!decrypted) throw std::runtime_error("batch decryption failed");
     }},
    {"key unwrap and implicit rejection", ciphertextFor,
     [](const R_RSA_PRIVATE_KEY& key, const Bytes& c) {
         // As the key objects run them, on a set-up made here and wiped as
         // the objects wipe theirs.
         corvane::detail::PrivateKeySetUp setUp;
         bool done = !corvane::detail::preparePrivateKey(setUp, key);
         unsigned char out[MAX_RSA_MODULUS_LEN];
         std::size_t outLen = 0;
         for (std::size_t keySize : {std::size_t{10}, std::size_t{24}})
             done = done && !corvane::detail::decryptKey(key, setUp, c.data(), c.size(), out, keySize);
         done = done && !corvane::detail::decryptImplicit(key, setUp, c.data(), c.size(), out, &outLen);
         corvane::secure_zero_object(setUp);
         corvane::secure_zero(out, sizeof out);
         if (!done) throw std::runtime_error("key unwrap failed");
     }},
    {"envelope", envelopeKeyFor,
     [](const R_RSA_PRIVATE_KEY& key, const Bytes& wrapped) {
         // The key object and the payload are made by the first, unscanned, run.
         static std::map<std::string, std::pair<corvane::v1::RsaPrivateKey, Bytes>> made;
         const std::string id(reinterpret_cast<const char*>(&key), sizeof key);
         auto it = made.find(id);
         if (it == made.end())
             it = made.emplace(id, std::pair{corvane::v1::RsaPrivateKey::fromRecord(key),
                                             corvane::v1::des3Encrypt(bytesOf("envelope payload"), kEnvelopeKey,
                                                                      corvane::v1::ByteView(kEnvelopeKey, 8))})
                      .first;
         std::vector<std::uint8_t> plain = corvane::v1::openEnvelope(it->second.first, wrapped, it->second.second);
         if (plain != bytesOf("envelope payload")) throw std::runtime_error("envelope refused");
     },
     false},
    {"key object's decryptKey and implicit rejection", envelopeKeyFor,
     [](const R_RSA_PRIVATE_KEY& key, const Bytes& wrapped) {
         // The object is made by the first, unscanned, run; what the calls
         // give back is a secret of the caller's, wiped here.
         static std::map<std::string, corvane::v1::RsaPrivateKey> made;
         const std::string id(reinterpret_cast<const char*>(&key), sizeof key);
         auto it = made.find(id);
         if (it == made.end()) it = made.emplace(id, corvane::v1::RsaPrivateKey::fromRecord(key)).first;
         std::vector<std::uint8_t> unwrapped = it->second.decryptKey(wrapped, 24);
         const bool same = unwrapped.size() == 24 && std::memcmp(unwrapped.data(), kEnvelopeKey, 24) == 0;
         corvane::secure_zero(unwrapped.data(), unwrapped.size());
         std::vector<std::uint8_t> message = it->second.decrypt(wrapped, corvane::v1::RsaRejection::implicit);
         corvane::secure_zero(message.data(), message.size());
         if (!same) throw std::runtime_error("key unwrap failed");
     }},
    {"documented steps", ciphertextFor,
     [](const R_RSA_PRIVATE_KEY& key, const Bytes& c) {
         unsigned char out[MAX_RSA_MODULUS_LEN];
         std::uint32_t outLen = 0;
         if (corvane::test_seams::rsa_private_raw(out, &outLen, c.data(), static_cast<std::uint32_t>(c.size()),
                                                  &key, true) != 0)
             throw std::runtime_error("documented private operation failed");
     }},
};

TEST(RsaStackScan, NothingKeyDerivedIsLeftOnTheStack) {
#ifdef CORVANE_STACK_SCAN_SKIPPED
    GTEST_SKIP() << "built with a sanitizer that moves locals off the stack; the scan would prove nothing";
#endif
    const char* tier = std::getenv("CORVANE_CPU");
    for (unsigned bits : {512u, 1024u}) {
        const RsaKey& key = cachedRsaKey(bits);
        for (bool largerFirst : {true, false}) {
            const R_RSA_PRIVATE_KEY priv = privateKeyWithPrimeOrder(key, largerFirst);
            for (const Operation& op : kOperations) {
                const Bytes input = op.input(key, priv);
                const std::vector<Secret> secrets = keyDerived(priv, input);
                op.run(priv, input);  // anything made once is made before the scan
                const Bytes stack = dead_stack::after([&] { op.run(priv, input); });
                const std::size_t depth = depthWritten(stack);
                const auto hits = hitsIn(stack, secrets);
                unsigned total = 0;
                std::string detail;
                for (const auto& [name, count] : hits) {
                    total += count;
                    detail += " " + name + ": " + std::to_string(count) + ";";
                }
                std::printf("[tier %s] %s, %u bits, %s prime first: stack used %zu bytes, %u hits%s\n",
                            tier && *tier ? tier : "default", op.name, bits, largerFirst ? "larger" : "smaller", depth,
                            total, detail.c_str());
                const std::string where = std::string(op.name) + ", " + std::to_string(bits) + " bits, " +
                                          (largerFirst ? "larger" : "smaller") + " prime first";
                // The operation (and the scrub after it) stayed inside the
                // scanned region, and the deepest bytes written, above the
                // small frames of the wipe's own calls, are the scrub's
                // zeros: it reached further than the operation did.
                ASSERT_LT(depth, kScanBytes - 4096) << where;
                const auto deepest = stack.begin() + static_cast<long>(kScanBytes - depth) + 512;
                if (op.endsWithScrub) {
                    EXPECT_TRUE(std::all_of(deepest, deepest + 256, [](unsigned char b) { return b == 0; }))
                        << where << ": the operation went deeper than the scrub";
                }
                EXPECT_EQ(total, 0u) << where << ":" << detail;
            }
        }
    }
}

}  // namespace

// The key writers, in every form, plain and encrypted, and the reader that
// takes their output back: after each returns, no 16-byte window of d, a
// prime, a prime exponent or the coefficient (as the DER holds them, and in
// the limb forms) lies on the stack it used.
TEST(RsaStackScan, NothingKeyDerivedIsLeftByTheKeyWritersAndReaders) {
#ifdef CORVANE_STACK_SCAN_SKIPPED
    GTEST_SKIP() << "built with a sanitizer that moves locals off the stack; the scan would prove nothing";
#endif
    using corvane::RsaKeyFormat;
    const char* tier = std::getenv("CORVANE_CPU");
    for (unsigned bits : {512u, 1024u}) {
        const R_RSA_PRIVATE_KEY& priv = cachedRsaKey(bits).privateKey;
        const corvane::v1::RsaPrivateKey object = corvane::v1::RsaPrivateKey::fromRecord(priv);
        std::vector<Secret> secrets = {{"d", mpzOfBytes(priv.privateExponent, MAX_RSA_MODULUS_LEN), bits}};
        // The secret that keys implicit rejection, which every key object
        // derives when it is made.
        const std::size_t k = (priv.bits + 7u) / 8u;
        unsigned char rejectionSecret[32];
        SHA256(priv.privateExponent + MAX_RSA_MODULUS_LEN - k, k, rejectionSecret);
        secrets.push_back({"rejection secret", mpzOfBytes(rejectionSecret, sizeof rejectionSecret), 256});
        for (const auto& [name, field] : {std::pair{"p", priv.prime[0]},
                                          {"q", priv.prime[1]},
                                          {"dP", priv.primeExponent[0]},
                                          {"dQ", priv.primeExponent[1]},
                                          {"qInv", priv.coefficient}})
            secrets.push_back({name, mpzOfBytes(field, MAX_RSA_PRIME_LEN), bits});
        // Each run wipes what it got back, so that only what the library left
        // remains. The writers run alone first in each form: the first call of
        // a library function that a lazily bound program makes saves the
        // vector registers on the stack, which only their own scrub clears.
        std::vector<std::pair<std::string, std::function<bool()>>> runs;
        for (RsaKeyFormat format : {RsaKeyFormat::standard, RsaKeyFormat::pkcs1})
            for (const std::string passphrase : {"", "stack scan"}) {
                const std::string form = std::string(format == RsaKeyFormat::pkcs1 ? "PKCS #1" : "PKCS #8") +
                                         (passphrase.empty() ? "" : ", encrypted");
                runs.push_back({"modern toPem, " + form, [&, format, passphrase] {
                                    std::string pem = object.toPem(format, passphrase);
                                    corvane::secure_zero(pem.data(), pem.size());
                                    return true;
                                }});
                if (format == RsaKeyFormat::standard || passphrase.empty())
                    runs.push_back({"DER writer, " + form, [&, format, passphrase] {
                                        std::vector<std::uint8_t> der;
                                        const bool ok =
                                            !corvane::rsaPrivateKeyToDer(priv, der, format, passphrase);
                                        corvane::secure_zero(der.data(), der.size());
                                        return ok;
                                    }});
                runs.push_back({"PEM writer and reader, " + form, [&, format, passphrase] {
                                    std::string pem;
                                    R_RSA_PRIVATE_KEY read;
                                    const bool ok =
                                        !corvane::rsaPrivateKeyToPem(priv, pem, format, passphrase) &&
                                        corvane::loadRsaPrivateKey(pem, read, passphrase);
                                    corvane::secure_zero(pem.data(), pem.size());
                                    corvane::secure_zero_object(read);
                                    return ok;
                                }});
            }
        for (RsaKeyFormat format : {RsaKeyFormat::standard, RsaKeyFormat::pkcs1})
            for (const std::string passphrase : {"", "stack scan"}) {
                if (format == RsaKeyFormat::pkcs1 && !passphrase.empty()) continue;  // no such form
                const std::string form = std::string(format == RsaKeyFormat::pkcs1 ? "PKCS #1" : "PKCS #8") +
                                         (passphrase.empty() ? "" : ", encrypted");
                runs.push_back({"modern toDer, " + form, [&, format, passphrase] {
                                    std::vector<std::uint8_t> der = object.toDer(format, passphrase);
                                    corvane::secure_zero(der.data(), der.size());
                                    return true;
                                }});
            }
        // The readers of the key objects, from memory and from a file, plain
        // and encrypted; the object is wiped when it goes.
        static std::map<unsigned, std::pair<std::string, std::string>> files;
        if (!files.count(bits)) {
            const std::string stem = ::testing::TempDir() + "stack-scan-" + std::to_string(bits);
            files[bits] = {stem + ".pem", stem + ".enc.pem"};
            std::ofstream(files[bits].first) << object.toPem(RsaKeyFormat::standard, "");
            std::ofstream(files[bits].second) << object.toPem(RsaKeyFormat::standard, "stack scan");
        }
        const std::string plainPem = object.toPem(RsaKeyFormat::standard, "");
        for (const auto& [name, path, passphrase] :
             {std::tuple{"modern fromFile", files[bits].first, ""},
              std::tuple{"modern fromFile, encrypted", files[bits].second, "stack scan"}})
            runs.push_back({name, [&, path = path, passphrase = passphrase] {
                                const auto key = corvane::v1::RsaPrivateKey::fromFile(
                                    path, *passphrase ? corvane::KeyPassphrase(passphrase) : corvane::KeyPassphrase());
                                return key.blockSize() == (bits + 7) / 8;
                            }});
        runs.push_back({"modern fromEncoded", [&] {
                            const auto key = corvane::v1::RsaPrivateKey::fromEncoded(plainPem);
                            return key.blockSize() == (bits + 7) / 8;
                        }});
        runs.push_back({"text", [&] {
                            std::string text;
                            const bool ok = !corvane::rsaPrivateKeyToText(priv, text);
                            corvane::secure_zero(text.data(), text.size());
                            return ok;
                        }});
        for (const auto& [name, run] : runs) {
            bool ok = false;
            const Bytes stack = dead_stack::after([&ok, &run = run] { ok = run(); });
            ASSERT_TRUE(ok) << name;
            unsigned total = 0;
            std::string detail;
            for (const auto& [secret, count] : hitsIn(stack, secrets)) {
                total += count;
                detail += " " + secret + ": " + std::to_string(count) + ";";
            }
            std::printf("[tier %s] %s, %u bits: stack used %zu bytes, %u hits%s\n",
                        tier && *tier ? tier : "default", name.c_str(), bits, depthWritten(stack), total,
                        detail.c_str());
            ASSERT_LT(depthWritten(stack), kScanBytes - 4096) << name;
            EXPECT_EQ(total, 0u) << name << ", " << bits << " bits:" << detail;
        }
    }
}
