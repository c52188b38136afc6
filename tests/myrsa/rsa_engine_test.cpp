// RSA's raw operations through the engine against the documented steps
// (reached through the seams of rsa_seams.h): same status, same length, same
// bytes, for keys of many sizes in both prime orders, for inputs from 0 to
// n - 1, and for keys whose fields do not fit together (a coefficient or
// prime exponent wider than the primes, primes of different lengths, a
// modulus that is not their product), which the engine takes and must treat
// exactly as the documented steps do. Keys the engine cannot take (an even
// prime, a prime of 1) must still give the documented result.
#include <Corvane/rsa.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "myrsa/rsa_seams.h"
#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

using namespace corvane::test;
namespace seams = corvane::test_seams;

namespace {

struct Raw {
    std::int32_t status = -1;
    std::uint32_t length = 0;
    Bytes out;
    bool operator==(const Raw& o) const { return status == o.status && length == o.length && out == o.out; }
};

// Writes value, right-aligned, into a field of `length` bytes.
void setField(unsigned char* field, std::size_t length, const Bytes& value) {
    std::memset(field, 0, length);
    if (!value.empty()) std::memcpy(field + length - value.size(), value.data(), value.size());
}

template <typename Key, typename Operation>
Raw run(Operation operation, const Key& key, const Bytes& input, bool documentedOnly) {
    Raw r;
    unsigned char out[MAX_RSA_MODULUS_LEN];
    std::memset(out, 0xA5, sizeof out);
    r.status = operation(out, &r.length, input.data(), static_cast<std::uint32_t>(input.size()), &key,
                         documentedOnly);
    r.out.assign(out, out + sizeof out);
    return r;
}

// Both the arithmetic (unchecked, so that keys the check refuses still
// compare results) and what is released after the check must agree.
::testing::AssertionResult privateAgrees(const R_RSA_PRIVATE_KEY& key, const Bytes& input) {
    for (auto operation : {seams::rsa_private_unchecked, seams::rsa_private_raw}) {
        const Raw ours = run(operation, key, input, false);
        const Raw theirs = run(operation, key, input, true);
        if (ours == theirs) continue;
        return ::testing::AssertionFailure()
               << (operation == seams::rsa_private_raw ? "checked" : "unchecked") << ", input " << toHex(input)
               << "\n engine     " << ours.status << " " << toHex(ours.out) << "\n documented " << theirs.status
               << " " << toHex(theirs.out);
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult publicAgrees(const R_RSA_PUBLIC_KEY& key, const Bytes& input) {
    const Raw ours = run(seams::rsa_public_raw, key, input, false);
    const Raw theirs = run(seams::rsa_public_raw, key, input, true);
    if (ours == theirs) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "input " << toHex(input) << "\n engine     " << ours.status << " " << toHex(ours.out)
           << "\n documented " << theirs.status << " " << toHex(theirs.out);
}

// Inputs for a modulus: 0, 1, n - 1, n itself (refused), short ones, and
// random values below n.
std::vector<Bytes> inputsFor(const Bytes& field, Rng& rng, unsigned randomCount) {
    std::size_t start = 0;
    while (start + 1 < field.size() && field[start] == 0) start++;
    const Bytes n(field.begin() + static_cast<long>(start), field.end());
    Bytes nMinusOne = n;
    for (std::size_t i = nMinusOne.size(); i-- > 0;)
        if (nMinusOne[i]-- != 0) break;
    std::vector<Bytes> inputs = {Bytes{}, Bytes{1}, nMinusOne, n, rng.bytes(3)};
    for (unsigned i = 0; i < randomCount; i++) {
        Bytes x = rng.bytes(n.size());
        x[0] = static_cast<std::uint8_t>(x[0] % (n[0] == 0 ? 1 : n[0]));
        inputs.push_back(x);
    }
    return inputs;
}

TEST(EngineRsa, PrivateOperationMatchesTheDocumentedStepsInBothPrimeOrders) {
    Rng rng(0x72730001);
    for (unsigned bits : {512u, 576u, 640u, 768u, 896u, 1000u, 1024u}) {
        const RsaKey& key = cachedRsaKey(bits);
        for (bool largerFirst : {true, false}) {
            const R_RSA_PRIVATE_KEY priv = privateKeyWithPrimeOrder(key, largerFirst);
            for (const Bytes& input : inputsFor(key.parts.n, rng, 6 * longTestFactor()))
                ASSERT_TRUE(privateAgrees(priv, input))
                    << bits << " bits, larger prime first: " << largerFirst;
        }
    }
}

TEST(EngineRsa, PublicOperationMatchesTheDocumentedSteps) {
    Rng rng(0x72730002);
    // 1000 bits: a modulus below half its words' range, whose R mod m the
    // setup divides for instead of negating m.
    for (unsigned bits : {512u, 768u, 1000u, 1024u}) {
        const RsaKey& key = cachedRsaKey(bits);
        R_RSA_PUBLIC_KEY pub = key.publicKey;
        // Exponents 0, 1, 3, 65537 and long random ones (odd or even).
        const Bytes exponents[] = {
            Bytes{}, Bytes{1}, Bytes{3}, Bytes{1, 0, 1}, rng.bytes(key.parts.n.size()), rng.bytes(20)};
        for (const Bytes& e : exponents) {
            setField(pub.exponent, sizeof pub.exponent, e);
            for (const Bytes& input : inputsFor(key.parts.n, rng, 3 * longTestFactor()))
                ASSERT_TRUE(publicAgrees(pub, input)) << bits << " bits, exponent " << toHex(e);
        }
    }
}

// The public operation keeps the last modulus's setup per thread: keys of
// one size taking turns, a key coming back, and a thread of its own must
// each get their own modulus's results.
TEST(EngineRsa, PublicOperationsUnderKeysTakingTurns) {
    Rng rng(0x72730003);
    const RsaKey other = generateRsaKey(1024);
    const R_RSA_PUBLIC_KEY* keys[] = {&cachedRsaKey(1024).publicKey, &other.publicKey,
                                      &other.publicKey, &cachedRsaKey(1024).publicKey,
                                      &cachedRsaKey(512).publicKey, &other.publicKey};
    for (const R_RSA_PUBLIC_KEY* key : keys) {
        const Bytes input = rng.bytes(48);  // below every modulus here
        ASSERT_TRUE(publicAgrees(*key, input));
        std::thread([&] { EXPECT_TRUE(publicAgrees(*key, input)); }).join();
    }
}

Bytes oddBytes(Rng& rng, std::size_t n) {
    Bytes b = rng.bytes(n);
    b.back() |= 1;
    b.front() |= 0x80;
    return b;
}

// Keys whose fields break the relations of a real key but leave both primes
// odd and above 1: the engine takes them and must follow the documented
// steps, truncations and all.
TEST(EngineRsa, KeysWhoseFieldsDoNotFitTogether) {
    Rng rng(0x72730003);
    struct Mutation {
        const char* name;
        void (*apply)(R_RSA_PRIVATE_KEY&, Rng&);
    };
    const Mutation mutations[] = {
        {"coefficient of 64 random bytes",
         [](R_RSA_PRIVATE_KEY& k, Rng& r) { setField(k.coefficient, MAX_RSA_PRIME_LEN, r.bytes(64)); }},
        {"prime exponents of 64 random bytes",
         [](R_RSA_PRIVATE_KEY& k, Rng& r) {
             setField(k.primeExponent[0], MAX_RSA_PRIME_LEN, r.bytes(64));
             setField(k.primeExponent[1], MAX_RSA_PRIME_LEN, r.bytes(64));
         }},
        {"second prime a quarter as long",
         [](R_RSA_PRIVATE_KEY& k, Rng& r) { setField(k.prime[1], MAX_RSA_PRIME_LEN, oddBytes(r, 16)); }},
        {"first prime one digit shorter",
         [](R_RSA_PRIVATE_KEY& k, Rng& r) {
             Bytes p(k.prime[0], k.prime[0] + MAX_RSA_PRIME_LEN);
             std::size_t start = 0;
             while (start < p.size() && p[start] == 0) start++;
             setField(k.prime[0], MAX_RSA_PRIME_LEN, oddBytes(r, p.size() - start - 4));
         }},
        {"equal primes",
         [](R_RSA_PRIVATE_KEY& k, Rng&) { std::memcpy(k.prime[1], k.prime[0], MAX_RSA_PRIME_LEN); }},
        {"primes 3 and 5",
         [](R_RSA_PRIVATE_KEY& k, Rng&) {
             setField(k.prime[0], MAX_RSA_PRIME_LEN, Bytes{3});
             setField(k.prime[1], MAX_RSA_PRIME_LEN, Bytes{5});
         }},
        {"odd composite primes of full length",
         [](R_RSA_PRIVATE_KEY& k, Rng& r) {
             setField(k.prime[0], MAX_RSA_PRIME_LEN, oddBytes(r, 64));
             setField(k.prime[1], MAX_RSA_PRIME_LEN, oddBytes(r, 64));
         }},
        {"modulus shorter than the primes' product",
         [](R_RSA_PRIVATE_KEY& k, Rng& r) { setField(k.modulus, MAX_RSA_MODULUS_LEN, oddBytes(r, 40)); }},
        {"bits below the modulus length", [](R_RSA_PRIVATE_KEY& k, Rng&) { k.bits = 200; }},
    };
    for (unsigned bits : {512u, 768u, 1024u}) {
        const RsaKey& key = cachedRsaKey(bits);
        for (bool largerFirst : {true, false}) {
            for (const Mutation& mutation : mutations) {
                R_RSA_PRIVATE_KEY priv = privateKeyWithPrimeOrder(key, largerFirst);
                mutation.apply(priv, rng);
                const Bytes n(priv.modulus, priv.modulus + MAX_RSA_MODULUS_LEN);
                for (const Bytes& input : inputsFor(n, rng, 4 * longTestFactor()))
                    ASSERT_TRUE(privateAgrees(priv, input)) << mutation.name << ", " << bits << " bits";
            }
        }
    }
}

// Keys the engine refuses keep the documented steps (the comparison then
// shows that the refusal is clean: same status, nothing else written).
TEST(EngineRsa, KeysTheEngineDoesNotTakeGiveTheDocumentedResult) {
    Rng rng(0x72730004);
    const RsaKey& key = cachedRsaKey(512);
    const Bytes one{1}, zero{};
    for (int variant = 0; variant < 4; variant++) {
        R_RSA_PRIVATE_KEY priv = key.privateKey;
        switch (variant) {
            case 0:
                priv.prime[0][MAX_RSA_PRIME_LEN - 1] &= 0xFE;
                break;  // even p
            case 1:
                priv.prime[1][MAX_RSA_PRIME_LEN - 1] &= 0xFE;
                break;  // even q
            case 2:
                setField(priv.prime[1], MAX_RSA_PRIME_LEN, one);
                break;
            default:
                setField(priv.prime[0], MAX_RSA_PRIME_LEN, zero);
                break;
        }
        for (const Bytes& input : inputsFor(key.parts.n, rng, 3))
            ASSERT_TRUE(privateAgrees(priv, input)) << "variant " << variant;
    }
    R_RSA_PUBLIC_KEY pub = key.publicKey;
    pub.modulus[MAX_RSA_MODULUS_LEN - 1] &= 0xFE;  // even modulus
    for (const Bytes& input : inputsFor(key.parts.n, rng, 3)) ASSERT_TRUE(publicAgrees(pub, input));
}

}  // namespace
