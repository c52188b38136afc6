// The work of `corvane envelope open --lines` done by OpenSSL in one
// process, the peer of bench/tool_envelope_lines.sh: reads a private key
// (PEM) and a file of envelopes, one per line as two Base64 fields (the
// wrapped key, a space, the payload); unwraps each key with EVP_PKEY_decrypt
// (PKCS #1 v1.5, the context made once), decrypts the payload with
// DES-EDE3-CBC under it (the key's first 8 bytes as IV, the cipher fetched
// once) and writes the plaintext in Base64 on a line of its own, or
// "error: envelope refused". Plaintexts and keys are wiped once used.
//
//   openssl_envelope_lines KEY.pem ENVELOPES.txt > PLAINTEXTS.b64
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/support/openssl_lines.h"

using openssl_lines::decodeField;

[[noreturn]] void fail(const char* what) { openssl_lines::fail("openssl_envelope_lines", what); }

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: openssl_envelope_lines KEY.pem ENVELOPES.txt\n");
        return 2;
    }
    std::FILE* keyFile = std::fopen(argv[1], "r");
    if (keyFile == nullptr) fail("cannot open the key");
    EVP_PKEY* key = PEM_read_PrivateKey(keyFile, nullptr, nullptr, nullptr);
    std::fclose(keyFile);
    if (key == nullptr) fail("cannot read the key");
    EVP_PKEY_CTX* rsa = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    if (rsa == nullptr || EVP_PKEY_decrypt_init(rsa) != 1 || EVP_PKEY_CTX_set_rsa_padding(rsa, RSA_PKCS1_PADDING) != 1)
        fail("cannot set up decryption");
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "DES-EDE3-CBC", nullptr);
    EVP_CIPHER_CTX* des = EVP_CIPHER_CTX_new();
    if (cipher == nullptr || des == nullptr) fail("no triple-DES");
    std::FILE* in = std::fopen(argv[2], "r");
    if (in == nullptr) fail("cannot open the envelopes");

    std::vector<unsigned char> wrapped, payload, plaintext, text;
    unsigned char desKey[512];
    char* line = nullptr;
    std::size_t capacity = 0;
    ssize_t read;
    int status = 0;
    while ((read = getline(&line, &capacity, in)) >= 0) {
        std::size_t length = static_cast<std::size_t>(read);
        while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) --length;
        const char* space = static_cast<const char*>(std::memchr(line, ' ', length));
        std::size_t keyLength = sizeof desKey;
        int wrappedLength = -1, payloadLength = -1, n = 0, tail = 0;
        if (space != nullptr) {
            wrappedLength = decodeField(line, static_cast<std::size_t>(space - line), wrapped);
            payloadLength = decodeField(space + 1, length - static_cast<std::size_t>(space + 1 - line), payload);
        }
        plaintext.resize(payloadLength > 0 ? static_cast<std::size_t>(payloadLength) + 8 : 0);
        const bool opened = wrappedLength > 0 && payloadLength > 0 &&
                            EVP_PKEY_decrypt(rsa, desKey, &keyLength, wrapped.data(),
                                             static_cast<std::size_t>(wrappedLength)) == 1 &&
                            keyLength == 24 && EVP_DecryptInit_ex2(des, cipher, desKey, desKey, nullptr) == 1 &&
                            EVP_DecryptUpdate(des, plaintext.data(), &n, payload.data(), payloadLength) == 1 &&
                            EVP_DecryptFinal_ex(des, plaintext.data() + n, &tail) == 1;
        OPENSSL_cleanse(desKey, sizeof desKey);
        if (!opened) {
            std::fputs("error: envelope refused\n", stdout);
            status = 1;
            continue;
        }
        text.resize(plaintext.size() / 3 * 4 + 8);
        int textLength = EVP_EncodeBlock(text.data(), plaintext.data(), n + tail);
        text[static_cast<std::size_t>(textLength)] = '\n';
        std::fwrite(text.data(), 1, static_cast<std::size_t>(textLength) + 1, stdout);
        OPENSSL_cleanse(plaintext.data(), plaintext.size());
        OPENSSL_cleanse(text.data(), text.size());
    }
    std::free(line);
    std::fclose(in);
    EVP_CIPHER_CTX_free(des);
    EVP_CIPHER_free(cipher);
    EVP_PKEY_CTX_free(rsa);
    EVP_PKEY_free(key);
    if (std::fflush(stdout) != 0) fail("write error");
    return status;
}
