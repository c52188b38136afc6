// RSA key files made by the openssl command-line tool, for the tests of the
// key readers and of the corvane tool: one key generated with
// `openssl genpkey`, written in any form on first request.
#ifndef CORVANE_TEST_OPENSSL_KEY_FILES_H
#define CORVANE_TEST_OPENSSL_KEY_FILES_H

#include <map>
#include <string>

#include "tests/support/cli/cli_run.h"

namespace corvane::test {

enum class KeyForm {
    privatePkcs8Pem,  // "PRIVATE KEY", as genpkey writes it
    privatePkcs8Der,
    privatePkcs1Pem,  // "RSA PRIVATE KEY"
    privatePkcs1Der,
    publicSpkiPem,  // "PUBLIC KEY"
    publicSpkiDer,
    publicPkcs1Pem,  // "RSA PUBLIC KEY"
    publicPkcs1Der,
    certificatePem,  // a self-signed X.509 certificate of the key
    certificateDer,
    encryptedPkcs8Pem,  // "ENCRYPTED PRIVATE KEY", AES-256-CBC under kKeyFilePassphrase
    encryptedPkcs8Der,
    encryptedPkcs1Pem,           // "RSA PRIVATE KEY" with a DEK-Info header, AES-128-CBC
    encryptedPkcs8TripleDesPem,  // "ENCRYPTED PRIVATE KEY", pbeWithSHAAnd3-KeyTripleDES-CBC
    encryptedPkcs8DesPem,        // "ENCRYPTED PRIVATE KEY", pbeWithSHA1AndDES-CBC
};

inline constexpr const char* kKeyFilePassphrase = "corvane test passphrase";

class OpensslKeyFiles {
public:
    // Generates the key (`openssl genpkey ... -pkeyopt rsa_keygen_bits:bits`,
    // plus extra -pkeyopt settings such as "rsa_keygen_primes:3") in dir.
    // Throws std::runtime_error when openssl fails.
    OpensslKeyFiles(const TempDir& dir, unsigned bits, const std::string& extraOption = {});

    unsigned bits() const { return bits_; }
    // The path of the key in that form, converted on the first request.
    const std::string& path(KeyForm form);
    // The modulus in upper-case hexadecimal, as `openssl rsa -modulus` prints it.
    std::string modulusHex();

private:
    const TempDir& dir_;
    unsigned bits_;
    std::string base_;
    std::map<KeyForm, std::string> paths_;
};

// Runs a program that must succeed and returns its standard output; throws
// std::runtime_error with its standard error otherwise.
std::string runOracle(const std::vector<std::string>& argv, const std::string& in = {});

}  // namespace corvane::test

#endif
