// RSA keys for the subcommands: key files read with the library's key
// readers (<Corvane/keys.h>), hexadecimal keys from --modulus/--exponent,
// and the check that a public key protects anything; every refusal is the
// tool's one-line failure (exit status 1) naming where the key came from.
//
// Key files, PEM or DER, told apart from the content:
//  - public keys: SubjectPublicKeyInfo ("PUBLIC KEY"), PKCS #1
//    ("RSA PUBLIC KEY"), an X.509 certificate, or a private key file, whose
//    public half is used;
//  - private keys: PKCS #8 ("PRIVATE KEY", "ENCRYPTED PRIVATE KEY") or
//    PKCS #1 ("RSA PRIVATE KEY", plain or encrypted), two primes; the
//    passphrase of an encrypted one comes from a PassphraseSource.
// Moduli above 1024 bits do not fit the records and are refused. "-" reads
// the key from standard input. Files above 1 MiB are refused unread beyond
// that: no key file is that large.
#ifndef CORVANE_TOOL_RSA_KEYS_H
#define CORVANE_TOOL_RSA_KEYS_H

#include <Corvane/keys.h>
#include <Corvane/rsa.h>

#include <span>
#include <string>

#include "tools/corvane/secrets/secrets.h"

namespace corvane::tool {

// bits is the modulus bit count; fields are big-endian, right-aligned.
void loadRsaPublicKey(const std::string& path, R_RSA_PUBLIC_KEY& key, const PassphraseSource& passphrase);

// Fills the CRT record. The caller wipes it when done; the library wipes the
// buffers used on the way.
void loadRsaPrivateKey(const std::string& path, R_RSA_PRIVATE_KEY& key, const PassphraseSource& passphrase);

// The public key of --modulus HEX --exponent HEX, with its true size.
void rsaPublicKeyFromHexTexts(const std::string& modulus, const std::string& exponent, R_RSA_PUBLIC_KEY& key);

// Refuses (exit status 1) a public key under which a block would not be
// protected at all or not be RSA: an exponent of 0 or 1 (the block comes out
// as it went in), an even exponent, an even modulus. The class and the
// block operations accept such keys, as they always have; the tool does not
// hand a user such a result. source names the key in the message. The
// numbers are big-endian bytes.
void refuseKeyThatProtectsNothing(std::span<const std::uint8_t> modulus,
                                  std::span<const std::uint8_t> exponent, const std::string& source);
inline void refuseKeyThatProtectsNothing(const R_RSA_PUBLIC_KEY& key, const std::string& source) {
    refuseKeyThatProtectsNothing(key.modulus, key.exponent, source);
}

}  // namespace corvane::tool

#endif
