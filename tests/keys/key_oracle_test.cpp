// The attack on encrypted key files through a decryption oracle: altered
// copies of one encrypted key, made the ways an attacker without the
// passphrase makes them (the last byte of the block before the last swept
// through every value, with and without blocks cut off the end; blocks in
// the middle garbled; the IV steered where the format lets it be chosen),
// loaded by a process that knows the passphrase. OpenSSL, reading each copy
// itself, sorts them into bad padding, not a key, and a key whose values do
// not fit; the library's code, detail and size, the modern layer's message
// and the tool's message and exit status must be one and the same for every
// copy, in every form.
#include <Corvane/keys.h>
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <Corvane/corvane.hpp>
#include <functional>
#include <iostream>
#include <map>
#include <set>

#include "tests/support/cli/cli_tool.h"
#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

using namespace corvane;
using namespace corvane::test;

namespace {

constexpr const char* kPassphrase = "oracle";

// What OpenSSL finds in an altered copy.
enum class Finding { badPadding, notAKey, inconsistent, sound };
const char* nameOf(Finding f) {
    static const char* const names[] = {"bad padding", "not a key", "values that do not fit",
                                        "sound to OpenSSL"};
    return names[static_cast<int>(f)];
}

std::string armour(const std::string& label, const Bytes& der, const std::string& headers = {}) {
    std::string body = v1::base64Encode(der), text = "-----BEGIN " + label + "-----\n" + headers;
    for (std::size_t i = 0; i < body.size(); i += 64) text += body.substr(i, 64) + "\n";
    return text + "-----END " + label + "-----\n";
}

Bytes tlv(std::uint8_t tag, const Bytes& contents) {
    const std::size_t n = contents.size();
    Bytes out = n >= 0x100 ? Bytes{tag, 0x82, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)}
                : n >= 0x80 ? Bytes{tag, 0x81, static_cast<std::uint8_t>(n)}
                            : Bytes{tag, static_cast<std::uint8_t>(n)};
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

std::size_t headerSize(const Bytes& der, std::size_t at) {
    return der[at + 1] & 0x80 ? 2 + (der[at + 1] & 0x7F) : 2;
}

// The whole element (header and contents) that starts at der[at].
std::size_t elementSize(const Bytes& der, std::size_t at) {
    std::size_t length = der[at + 1];
    if (length & 0x80) {
        length = 0;
        for (std::size_t i = 2; i < headerSize(der, at); i++) length = length << 8 | der[at + i];
    }
    return headerSize(der, at) + length;
}

// One encrypted form: its ciphertext, its IV when the file carries one the
// attacker may choose, and the file for any ciphertext and IV.
struct Form {
    std::string name;
    Bytes ciphertext, iv;
    std::size_t block = 0;
    std::function<Bytes(const Bytes& ciphertext, const Bytes& iv)> file;
    bool pem = false;
};

// An EncryptedPrivateKeyInfo, SEQUENCE { AlgorithmIdentifier, OCTET STRING }:
// the AlgorithmIdentifier kept (its last bytes are a PBES2 IV), the
// ciphertext replaced.
Form infoForm(const std::string& name, const Bytes& der, std::size_t block, bool ivInAlgorithm, bool pem) {
    std::size_t at = headerSize(der, 0);
    const auto b = static_cast<long>(block);
    const Bytes algorithm(der.begin() + static_cast<long>(at),
                          der.begin() + static_cast<long>(at + elementSize(der, at)));
    at += algorithm.size();
    Form form{name,    Bytes(der.begin() + static_cast<long>(at + headerSize(der, at)), der.end()),
              {},      block,
              nullptr, pem};
    if (ivInAlgorithm) form.iv.assign(algorithm.end() - b, algorithm.end());
    form.file = [algorithm, b, pem](const Bytes& ciphertext, const Bytes& iv) {
        Bytes body = algorithm;
        std::copy(iv.begin(), iv.end(), body.end() - b);
        const Bytes octets = tlv(0x04, ciphertext);
        body.insert(body.end(), octets.begin(), octets.end());
        const Bytes info = tlv(0x30, body);
        return pem ? bytesOf(armour("ENCRYPTED PRIVATE KEY", info)) : info;
    };
    return form;
}

// The traditional encryption: DEK-Info names the cipher and the IV.
Form traditionalForm(const std::string& pemText) {
    const std::size_t info = pemText.find("DEK-Info: ") + 10, comma = pemText.find(',', info);
    const std::string cipher = pemText.substr(info, comma - info);
    const std::size_t lineEnd = pemText.find('\n', comma);
    Form form{"traditional PEM, " + cipher,
              {},
              fromHex(pemText.substr(comma + 1, lineEnd - comma - 1)),
              16,
              nullptr,
              true};
    std::string body;
    for (std::size_t at = pemText.find("\n\n") + 2; pemText.compare(at, 5, "-----") != 0;) {
        const std::size_t end = pemText.find('\n', at);
        body += pemText.substr(at, end - at);
        at = end + 1;
    }
    form.ciphertext = v1::base64Decode(body);
    form.file = [cipher](const Bytes& ciphertext, const Bytes& iv) {
        std::string hex = toHex(iv);
        for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return bytesOf(armour("RSA PRIVATE KEY", ciphertext,
                              "Proc-Type: 4,ENCRYPTED\nDEK-Info: " + cipher + "," + hex + "\n\n"));
    };
    return form;
}

// OpenSSL's PKCS #8 encryption of the key: a PBES2 cipher, or a PKCS #12 scheme (nid).
Bytes opensslEncrypted(const RsaKey& key, int nid, const EVP_CIPHER* cipher) {
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, decltype(&PKCS8_PRIV_KEY_INFO_free)> info(
        EVP_PKEY2PKCS8(key.evp.get()), PKCS8_PRIV_KEY_INFO_free);
    std::unique_ptr<X509_SIG, decltype(&X509_SIG_free)> sealed(
        PKCS8_encrypt(nid, cipher, kPassphrase, -1, nullptr, 0, 16, info.get()), X509_SIG_free);
    unsigned char* der = nullptr;
    const int length = i2d_X509_SIG(sealed.get(), &der);
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

std::vector<Form> forms() {
    const RsaKey& key = cachedRsaKey(512);
    std::string pem;
    std::vector<std::uint8_t> der;
    EXPECT_FALSE(rsaPrivateKeyToPem(key.privateKey, pem, RsaKeyFormat::pkcs1, kPassphrase));
    EXPECT_FALSE(rsaPrivateKeyToDer(key.privateKey, der, RsaKeyFormat::standard, kPassphrase));
    return {
        infoForm("PBES2 DER, AES-256-CBC (the library's writer)", der, 16, true, false),
        infoForm("PBES2 PEM, AES-256-CBC (the library's writer)", der, 16, true, true),
        infoForm("PBES2 DER, DES-EDE3-CBC", opensslEncrypted(key, -1, EVP_des_ede3_cbc()), 8, true, false),
        infoForm("pbeWithSHAAnd3-KeyTripleDES-CBC DER",
                 opensslEncrypted(key, NID_pbe_WithSHA1And3_Key_TripleDES_CBC, nullptr), 8, false, false),
        traditionalForm(pem)};
}

// Every altered copy of the form's ciphertext and IV.
std::vector<std::pair<Bytes, Bytes>> alterations(const Form& form) {
    std::vector<std::pair<Bytes, Bytes>> out;
    const std::size_t b = form.block, blocks = form.ciphertext.size() / b;
    // The padding byte through every value, after cutting 0 or 1 block.
    for (std::size_t cut = 0; cut < 2; cut++) {
        const Bytes kept(form.ciphertext.begin(), form.ciphertext.end() - static_cast<long>(cut * b));
        for (int v = cut == 0 ? 1 : 0; v < 256; v++) {
            Bytes c = kept;
            c[c.size() - b - 1] ^= static_cast<std::uint8_t>(v);
            out.emplace_back(c, form.iv);
        }
    }
    // Blocks in the middle garbled (one bit flipped, which the next block shows).
    for (std::size_t at = blocks / 3; at < 2 * blocks / 3; at++) {
        Bytes c = form.ciphertext;
        c[at * b + 3] ^= 0x10;
        out.emplace_back(c, form.iv);
    }
    // The first block steered through the IV.
    for (std::size_t i = 0; i < form.iv.size(); i++)
        for (std::uint8_t v : {std::uint8_t{0x01}, std::uint8_t{0x30}, std::uint8_t{0x80}}) {
            Bytes iv = form.iv;
            iv[i] ^= v;
            out.emplace_back(form.ciphertext, iv);
        }
    return out;
}

Finding opensslFinding(const Form& form, const Bytes& file) {
    ERR_clear_error();
    std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_mem_buf(file.data(), static_cast<int>(file.size())),
                                                 BIO_free);
    EvpKey key(form.pem
                   ? PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, const_cast<char*>(kPassphrase))
                   : d2i_PKCS8PrivateKey_bio(in.get(), nullptr, nullptr, const_cast<char*>(kPassphrase)));
    if (!key) {
        bool badDecrypt = false;
        while (unsigned long e = ERR_get_error()) {
            const char* reason = ERR_reason_error_string(e);
            badDecrypt = badDecrypt || (reason != nullptr && std::string(reason) == "bad decrypt");
        }
        return badDecrypt ? Finding::badPadding : Finding::notAKey;
    }
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key.get(), nullptr),
                                                                    EVP_PKEY_CTX_free);
    const bool sound = EVP_PKEY_check(ctx.get()) == 1;
    ERR_clear_error();
    return sound ? Finding::sound : Finding::inconsistent;
}

std::string said(const KeyStatus& status) {
    return status.error.message() + " | " + (status.detail != nullptr ? status.detail : "-") + " | " +
           std::to_string(status.modulusBits) + " | " + std::to_string(status.iterations);
}

// Everything the library lets a caller see of one load: the private
// reader's status and, with others, the public reader's and the modern
// layer's message (the same reading underneath, so not run on every copy).
std::string outcome(const Bytes& file, bool others) {
    R_RSA_PRIVATE_KEY key;
    std::string seen = said(loadRsaPrivateKey(file, key, kPassphrase));
    if (!others) return seen;
    R_RSA_PUBLIC_KEY publicKey;
    seen += " || " + said(loadRsaPublicKey(file, publicKey, kPassphrase)) + " || ";
    try {
        (void)v1::RsaPrivateKey::fromEncoded(file, kPassphrase);
        return seen + "accepted";
    } catch (const v1::Error& e) {
        return seen + e.what();
    }
}

}  // namespace

TEST(KeyOracle, EveryAlteredCopyGivesTheSameOutcome) {
    for (const Form& form : forms()) {
        SCOPED_TRACE(form.name);
        R_RSA_PRIVATE_KEY key;
        const KeyStatus unaltered = loadRsaPrivateKey(form.file(form.ciphertext, form.iv), key, kPassphrase);
        ASSERT_TRUE(unaltered);
        std::map<Finding, int> findings;
        std::set<std::string> outcomes, fullOutcomes;
        for (const auto& [ciphertext, iv] : alterations(form)) {
            const Bytes file = form.file(ciphertext, iv);
            const Finding finding = opensslFinding(form, file);
            const bool others = finding != Finding::badPadding || findings[finding] % 16 == 0;
            findings[finding]++;
            (others ? fullOutcomes : outcomes).insert(outcome(file, others));
        }
        std::cout << "[ oracle ] " << form.name << ":";
        for (const auto& [finding, count] : findings)
            std::cout << " " << nameOf(finding) << " " << count << ";";
        std::cout << " outcomes " << outcomes.size() << "\n";
        // The attack's three kinds of copies were all made, and all read alike.
        for (Finding f : {Finding::badPadding, Finding::notAKey, Finding::inconsistent})
            EXPECT_GT(findings[f], 0) << nameOf(f);
        // The answer, no detail, no size, and the public iteration count.
        const std::string one = "the passphrase is wrong or the key file is damaged | - | 0 | " +
                                std::to_string(unaltered.iterations);
        EXPECT_EQ(outcomes, std::set<std::string>{one});
        EXPECT_EQ(fullOutcomes,
                  std::set<std::string>{one + " || " + one +
                                        " || the passphrase is wrong or the key file is damaged"});
    }
}

// The tool gives one message and one status for copies of every finding.
TEST(CliKeyOracle, TheToolSaysTheSameOfEveryAlteredCopy) {
    REQUIRE_TOOL();
    TempDir dir;
    const std::string passphraseFile = dir.write("passphrase", kPassphrase);
    for (const Form& form : forms()) {
        SCOPED_TRACE(form.name);
        std::map<Finding, int> tried;
        std::set<std::string> answers;
        for (const auto& [ciphertext, iv] : alterations(form)) {
            const Bytes file = form.file(ciphertext, iv);
            const Finding finding = opensslFinding(form, file);
            if (finding == Finding::sound || tried[finding]++ >= 3) continue;
            const std::string path = dir.write("key", text(file));
            const RunResult r =
                corvane::test::corvane({"rsa", "key", "--passphrase-file", passphraseFile, path});
            answers.insert(std::to_string(r.exitStatus) + " " + r.out + r.err);
        }
        EXPECT_EQ(tried.size(), 3u);
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(*answers.begin(), "1 corvane: rsa: " + dir.file("key") +
                                        ": the passphrase is wrong or the key file is damaged\n");
    }
}
