// The last step of reading an encrypted private key, timed on what a
// decryption under a wrong or altered file can give: bytes whose padding is
// bad, good padding over bytes that are not DER, DER that is no key, and a
// key whose values do not fit together. Each class is one fixed plaintext
// (as an attacker who replays one altered copy sees it), the classes are
// interleaved (timing_classes.h), and no pair may differ by |t| 4.5 or
// more. The PBKDF and the cipher before this step cost the same for every
// copy and are left out, so the measurement sees only the step whose time
// could tell the classes apart.
//
// Long: 10^5 calls a class, so it runs only when CORVANE_LONG_TESTS=1; the
// ordinary run makes 2,000 a class and only prints the t values.
#include <Corvane/keys.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "modern/keys/passphrase/decrypted_key.h"
#include "platform/secure_zero.h"
#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"
#include "tests/support/timing_classes.h"

using namespace corvane::test;

namespace {

constexpr std::size_t kBlock = 16;

Bytes padded(Bytes bytes) {
    const std::size_t n = kBlock - bytes.size() % kBlock;
    bytes.insert(bytes.end(), n, static_cast<std::uint8_t>(n));
    return bytes;
}

// The four plaintexts for a key's DER in one container.
std::vector<Bytes> classesFor(const Bytes& der) {
    Rng rng(4646);
    Bytes badPadding = padded(der);
    badPadding.back() ^= 0x40;  // a padding byte above the block size
    Bytes notDer = rng.bytes(der.size());
    notDer[0] = 0x05;  // no SEQUENCE
    // A SEQUENCE of one OCTET STRING, as long as the key's encoding.
    Bytes noKey = {0x30, 0x82, static_cast<std::uint8_t>((der.size() - 4) >> 8),
                   static_cast<std::uint8_t>(der.size() - 4), 0x04, 0x82,
                   static_cast<std::uint8_t>((der.size() - 8) >> 8), static_cast<std::uint8_t>(der.size() - 8)};
    const Bytes filler = rng.bytes(der.size() - 8);
    noKey.insert(noKey.end(), filler.begin(), filler.end());
    Bytes inconsistent = der;
    inconsistent[der.size() / 2] ^= 0x01;  // inside d: no longer d mod (p - 1)
    return {badPadding, padded(notDer), padded(noKey), padded(inconsistent)};
}

const std::vector<std::string> kNames = {"bad padding", "good padding over non-DER", "DER that is no key",
                                         "inconsistent key"};

class KeyReaderTiming : public testing::TestWithParam<corvane::RsaKeyFormat> {};

INSTANTIATE_TEST_SUITE_P(EachContainer, KeyReaderTiming,
                         testing::Values(corvane::RsaKeyFormat::standard, corvane::RsaKeyFormat::pkcs1),
                         [](const testing::TestParamInfo<corvane::RsaKeyFormat>& container) {
                             return std::string(container.param == corvane::RsaKeyFormat::pkcs1 ? "Pkcs1" : "Pkcs8");
                         });

TEST_P(KeyReaderTiming, EveryRefusalAfterDecryptionTakesOneTime) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "under a sanitizer its own bookkeeping is what gets timed";
#endif
    const bool pkcs8 = GetParam() == corvane::RsaKeyFormat::standard;
    const bool longRun = longTestFactor() > 1;
    std::string recorded;
    for (unsigned bits : {512u, 1024u}) {
        std::vector<std::uint8_t> der;
        ASSERT_FALSE(corvane::rsaPrivateKeyToDer(cachedRsaKey(bits).privateKey, der, GetParam()));
        const std::vector<Bytes> classes = classesFor(Bytes(der.begin(), der.end()));
        corvane::secure_zero(der.data(), der.size());
        for (const Bytes& plain : classes) {  // each is refused, and alike
            R_RSA_PRIVATE_KEY key;
            unsigned modulusBits = 0;
            ASSERT_EQ(corvane::detail::openDecryptedKey(plain, kBlock, pkcs8, key, modulusBits),
                      corvane::ErrorCode::wrongPassphrase);
        }
        R_RSA_PRIVATE_KEY key;
        unsigned modulusBits = 0;
        const auto comparisons = compareClassTimes(classes.size(), longRun ? 100000 : 2000, [&](std::size_t c, std::size_t) {
            (void)corvane::detail::openDecryptedKey(classes[c], kBlock, pkcs8, key, modulusBits);
        });
        const std::string where = std::to_string(bits) + " bits: " + describe(comparisons, kNames);
        std::printf("%s, %s\n", pkcs8 ? "PKCS #8" : "PKCS #1", where.c_str());
        recorded += (recorded.empty() ? "" : "; ") + where;
        if (longRun) {
            EXPECT_LT(largestT(comparisons), kLeakThreshold) << where;
        }
    }
    RecordProperty("t", recorded);
}

}  // namespace
