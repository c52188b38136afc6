// RSA key files for the subcommands: read with the library's key readers
// (<Corvane/keys.h>), any refusal turned into the tool's one-line failure.
// PEM or DER, detected from the content:
//  - public keys: SubjectPublicKeyInfo ("PUBLIC KEY"), PKCS #1
//    ("RSA PUBLIC KEY"), an X.509 certificate, or a private key file, whose
//    public half is used;
//  - private keys: PKCS #8 ("PRIVATE KEY") or PKCS #1 ("RSA PRIVATE KEY"),
//    two primes; encrypted ones need the passphrase.
// Moduli above 1024 bits do not fit the records and are refused. Every
// problem throws a failure (exit status 1) with a message naming the file.
// "-" reads the key from standard input.
#ifndef CORVANE_TOOL_RSA_KEYS_H
#define CORVANE_TOOL_RSA_KEYS_H

#include <Corvane/keys.h>
#include <Corvane/rsa.h>

#include <string>

namespace corvane::tool {

// bits is the modulus bit count; fields are big-endian, right-aligned.
void loadRsaPublicKey(const std::string& path, R_RSA_PUBLIC_KEY& key, const KeyPassphrase& passphrase = {});

// Fills the CRT record. The caller wipes it when done; the library wipes the
// buffers used on the way.
void loadRsaPrivateKey(const std::string& path, R_RSA_PRIVATE_KEY& key, const KeyPassphrase& passphrase = {});

}  // namespace corvane::tool

#endif
