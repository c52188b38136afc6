// RSA key files read with OpenSSL and copied into the library's key
// records. PEM or DER, detected from the content:
//  - public keys: SubjectPublicKeyInfo ("PUBLIC KEY") or PKCS #1
//    ("RSA PUBLIC KEY"), or a private key file, whose public half is used;
//  - private keys: PKCS #8 ("PRIVATE KEY") or PKCS #1 ("RSA PRIVATE KEY"),
//    unencrypted, two primes.
// Moduli above 1024 bits do not fit the records and are refused. Every
// problem throws a failure (exit status 1) with a message naming the file.
#ifndef CORVANE_TOOL_RSA_KEYS_H
#define CORVANE_TOOL_RSA_KEYS_H

#include <Corvane/rsa.h>

#include <string>

namespace corvane::tool {

// bits is the modulus bit count; fields are big-endian, right-aligned.
void loadRsaPublicKey(const std::string& path, R_RSA_PUBLIC_KEY& key);

// Fills the CRT record. The caller wipes it when done; the buffers used on
// the way (file bytes, OpenSSL numbers) are wiped here.
void loadRsaPrivateKey(const std::string& path, R_RSA_PRIVATE_KEY& key);

}  // namespace corvane::tool

#endif
