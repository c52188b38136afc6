// A private-key result leaves only after it is checked. A wrong signature s
// would give away a prime factor of n as gcd(s^e - block, n), so a key whose
// fields do not belong together, or a fault during the computation, must
// give QV_STATUS_BAD_DATA with the output cleared, never the wrong result.
// Keys whose public exponent is unusable (zero, one, even) still work, with
// the check of the key's halves alone. Runs on whichever tier CORVANE_CPU
// selects.
#include <Corvane/rsa.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "myrsa/rsa_seams.h"
#include "tests/support/rsa/rsa_calls.h"
#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

using namespace corvane::test;
namespace seams = corvane::test_seams;

namespace {

const Bytes kMessage = bytesOf("check before release");

// The record's public exponent as the key carries it, or replaced by one
// the check cannot raise to (zero, one, four).
struct Exponent {
    const char* name;
    int value;  // -1: the record's
};
const Exponent kRecord{"record's exponent", -1}, kZero{"exponent 0", 0}, kOne{"exponent 1", 1},
    kEven{"exponent 4", 4};

R_RSA_PRIVATE_KEY withExponent(R_RSA_PRIVATE_KEY key, const Exponent& e) {
    if (e.value < 0) return key;
    std::memset(key.publicExponent, 0, sizeof key.publicExponent);
    key.publicExponent[MAX_RSA_MODULUS_LEN - 1] = static_cast<unsigned char>(e.value);
    return key;
}

struct Outcome {
    std::int32_t status;
    Bytes buffer;  // the whole output buffer, first filled with 0xA5
};

Outcome signWith(const R_RSA_PRIVATE_KEY& key) {
    Outcome o{-1, Bytes(MAX_RSA_MODULUS_LEN, 0xA5)};
    std::uint32_t len = 0;
    o.status = QV_RSAPrivateEncrypt(o.buffer.data(), &len, kMessage.data(),
                                    static_cast<std::uint32_t>(kMessage.size()), &key);
    return o;
}

// What the key computes when nothing is checked.
Bytes uncheckedSignature(const R_RSA_PRIVATE_KEY& key, std::size_t modulusLen) {
    Bytes block(modulusLen, 0xFF);
    block[0] = 0;
    block[1] = 1;
    block[modulusLen - kMessage.size() - 1] = 0;
    std::memcpy(&block[modulusLen - kMessage.size()], kMessage.data(), kMessage.size());
    Bytes out(MAX_RSA_MODULUS_LEN);
    std::uint32_t len = 0;
    EXPECT_EQ(seams::rsa_private_unchecked(out.data(), &len, block.data(), static_cast<std::uint32_t>(modulusLen),
                                           &key, false),
              0);
    out.resize(len);
    return out;
}

// Refused, the output cleared where a result would go, the rest untouched.
::testing::AssertionResult refusedAndCleared(const Outcome& o, std::size_t modulusLen, const Bytes& faulty) {
    if (o.status != QV_STATUS_BAD_DATA) return ::testing::AssertionFailure() << "status " << o.status;
    for (std::size_t i = 0; i < o.buffer.size(); i++)
        if (o.buffer[i] != (i < modulusLen ? 0 : 0xA5))
            return ::testing::AssertionFailure() << "output byte " << i << " is " << int{o.buffer[i]};
    if (Bytes(o.buffer.begin(), o.buffer.begin() + static_cast<long>(faulty.size())) == faulty)
        return ::testing::AssertionFailure() << "the faulty signature was released";
    return ::testing::AssertionSuccess();
}

// Flips one bit in the middle of a key field (the low bit of a prime would
// make it even, which sends the key to the documented steps).
struct Fault {
    const char* name;
    unsigned char* (*field)(R_RSA_PRIVATE_KEY&);
    bool caughtWithoutExponent;  // by n = p * q and the halves alone
};

const Fault kFaults[] = {
    {"dP", [](R_RSA_PRIVATE_KEY& k) { return k.primeExponent[0]; }, false},
    {"dQ", [](R_RSA_PRIVATE_KEY& k) { return k.primeExponent[1]; }, false},
    {"qInv", [](R_RSA_PRIVATE_KEY& k) { return k.coefficient; }, true},
    {"p", [](R_RSA_PRIVATE_KEY& k) { return k.prime[0]; }, true},
    {"q", [](R_RSA_PRIVATE_KEY& k) { return k.prime[1]; }, true},
};

TEST(RsaReleaseCheck, KeyFieldFaultsAreRefusedWithNothingReleased) {
    for (unsigned bits : {512u, 1024u}) {
        const RsaKey& key = cachedRsaKey(bits);
        for (bool largerFirst : {true, false}) {
            for (const Exponent& e : {kRecord, kZero, kEven}) {
                for (const Fault& fault : kFaults) {
                    if (e.value >= 0 && !fault.caughtWithoutExponent) continue;
                    R_RSA_PRIVATE_KEY priv = withExponent(privateKeyWithPrimeOrder(key, largerFirst), e);
                    fault.field(priv)[MAX_RSA_PRIME_LEN - 20] ^= 0x08;
                    const Bytes faulty = uncheckedSignature(priv, key.modulusLen());
                    ASSERT_NE(faulty, callPrivateEncrypt(key.privateKey, kMessage).out) << fault.name;
                    const std::string where = std::string(fault.name) + ", " + e.name + ", " +
                                              std::to_string(bits) + " bits, larger first " +
                                              std::to_string(largerFirst);
                    EXPECT_TRUE(refusedAndCleared(signWith(priv), key.modulusLen(), faulty)) << where;
                    // Decryption refuses too, as it refuses a malformed block.
                    R_RANDOM_STRUCT pool = seededTestPool(bits);
                    const RsaResult c = callPublicEncrypt(key.publicKey, kMessage, pool);
                    EXPECT_EQ(callPrivateDecrypt(priv, c.out).status, QV_STATUS_BAD_DATA) << where;
                }
            }
        }
    }
}

// Faults during the computation, through the engine's test seam: a flipped
// bit in one half's exponentiation (the classic fault attack) is caught by
// raising to e; one in the recombination also by the halves alone.
TEST(RsaReleaseCheck, ComputationFaultsAreRefusedWithNothingReleased) {
    struct Case {
        seams::CrtGlitch glitch;
        Exponent exponent;
    };
    const Case cases[] = {{seams::CrtGlitch::exponentiation, kRecord},
                          {seams::CrtGlitch::recombination, kRecord},
                          {seams::CrtGlitch::recombination, kZero},
                          {seams::CrtGlitch::recombination, kEven}};
    for (unsigned bits : {512u, 1024u}) {
        const RsaKey& key = cachedRsaKey(bits);
        for (const Case& c : cases) {
            const R_RSA_PRIVATE_KEY priv = withExponent(key.privateKey, c.exponent);
            seams::set_rsa_crt_glitch(c.glitch);
            const Bytes faulty = uncheckedSignature(priv, key.modulusLen());
            const Outcome o = signWith(priv);
            seams::set_rsa_crt_glitch(seams::CrtGlitch::none);
            ASSERT_NE(faulty, callPrivateEncrypt(key.privateKey, kMessage).out);
            EXPECT_TRUE(refusedAndCleared(o, key.modulusLen(), faulty))
                << bits << " bits, glitch " << static_cast<int>(c.glitch) << ", " << c.exponent.name;
        }
    }
}

// Sound keys give the same results whether or not the record's exponent
// can be raised to.
TEST(RsaReleaseCheck, SoundKeysWithoutAUsableExponentStillWork) {
    for (unsigned bits : {512u, 1024u}) {
        const RsaKey& key = cachedRsaKey(bits);
        const Bytes expected = callPrivateEncrypt(key.privateKey, kMessage).out;
        ASSERT_EQ(expected.size(), key.modulusLen());
        for (const Exponent& e : {kZero, kOne, kEven}) {
            const R_RSA_PRIVATE_KEY priv = withExponent(key.privateKey, e);
            EXPECT_EQ(callPrivateEncrypt(priv, kMessage).out, expected) << bits << " bits, " << e.name;
            R_RANDOM_STRUCT pool = seededTestPool(bits);
            const RsaResult c = callPublicEncrypt(key.publicKey, kMessage, pool);
            EXPECT_EQ(callPrivateDecrypt(priv, c.out).out, kMessage) << bits << " bits, " << e.name;
        }
    }
}

}  // namespace
