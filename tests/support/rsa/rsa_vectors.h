// Readers for the published RSA vectors: the RSA Laboratories PKCS #1 v1.5
// text files (keys followed by their examples) and a minimal JSON reader for
// the Wycheproof files.
#ifndef CORVANE_TEST_RSA_VECTORS_H
#define CORVANE_TEST_RSA_VECTORS_H

#include <map>
#include <string>
#include <vector>

#include "tests/support/rsa/rsa_keys.h"
#include "tests/support/test_support.h"

namespace corvane::test {

// One example: the message and the published result (the ciphertext of an
// encryption file, the signature of a signature file).
struct PublishedRsaExample {
    std::string name;  // e.g. "1.3"
    Bytes message;
    Bytes result;
};

struct PublishedRsaKey {
    std::string name;  // e.g. "Example 1: A 1024-bit RSA key pair"
    RsaComponents parts;
    std::vector<PublishedRsaExample> examples;
};

// Reads pkcs1v15crypt-vectors.txt or pkcs1v15sign-vectors.txt.
std::vector<PublishedRsaKey> readRsaLabsVectors(const std::string& path);

// A JSON value, enough for reading published vector files: strings (with the
// usual escapes, \u limited to ASCII), numbers and literals kept as text,
// arrays and objects (member order kept).
struct Json {
    enum class Kind { Null, Boolean, Number, String, Array, Object };
    Kind kind = Kind::Null;
    std::string text;                                   // string value, or the number/literal as written
    std::vector<Json> items;                            // array elements
    std::vector<std::string> memberNames;               // object member names, in order
    std::vector<Json> memberValues;                     // and their values

    // Member by name; throws when absent or when this is not an object.
    const Json& operator[](const std::string& name) const;
    bool has(const std::string& name) const;
};

// Parses a whole document; throws std::runtime_error on malformed input.
Json parseJson(const std::string& text);

}  // namespace corvane::test

#endif
