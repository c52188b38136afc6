// The work of `corvane rsa decrypt --lines` done by OpenSSL in one process,
// the peer of bench/tool_rsa_lines.sh: reads a private key (PEM) and a file
// of Base64 blocks, one per line; decrypts each with EVP_PKEY_decrypt
// (PKCS #1 v1.5 padding, what openssl pkeyutl -decrypt does, the context
// made once for the key) and writes each message in Base64 on a line of its
// own, or "error: ..." in place of a line that fails. Messages are wiped
// once written, as the tool wipes them.
//
//   openssl_rsa_lines KEY.pem BLOCKS.b64 > MESSAGES.b64
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/support/openssl_lines.h"

[[noreturn]] void fail(const char* what) { openssl_lines::fail("openssl_rsa_lines", what); }

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: openssl_rsa_lines KEY.pem BLOCKS.b64\n");
        return 2;
    }
    std::FILE* keyFile = std::fopen(argv[1], "r");
    if (keyFile == nullptr) fail("cannot open the key");
    EVP_PKEY* key = PEM_read_PrivateKey(keyFile, nullptr, nullptr, nullptr);
    std::fclose(keyFile);
    if (key == nullptr) fail("cannot read the key");
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    if (ctx == nullptr || EVP_PKEY_decrypt_init(ctx) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) != 1)
        fail("cannot set up decryption");
    std::FILE* in = std::fopen(argv[2], "r");
    if (in == nullptr) fail("cannot open the blocks");

    const std::size_t keySize = static_cast<std::size_t>(EVP_PKEY_get_size(key));
    std::vector<unsigned char> block, message(keySize);
    std::vector<char> text(4 * keySize / 3 + 8);
    char* line = nullptr;
    std::size_t capacity = 0;
    ssize_t read;
    int status = 0;
    while ((read = getline(&line, &capacity, in)) >= 0) {
        std::size_t length = static_cast<std::size_t>(read);
        while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) --length;
        std::size_t messageLength = message.size();
        int blockLength = openssl_lines::decodeField(line, length, block);
        if (blockLength < 0 || EVP_PKEY_decrypt(ctx, message.data(), &messageLength, block.data(),
                                                static_cast<std::size_t>(blockLength)) != 1) {
            std::fputs("error: decryption failed\n", stdout);
            status = 1;
            continue;
        }
        int textLength = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), message.data(),
                                         static_cast<int>(messageLength));
        text[static_cast<std::size_t>(textLength)] = '\n';
        std::fwrite(text.data(), 1, static_cast<std::size_t>(textLength) + 1, stdout);
        OPENSSL_cleanse(message.data(), messageLength);
        OPENSSL_cleanse(text.data(), static_cast<std::size_t>(textLength));
    }
    std::free(line);
    std::fclose(in);
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    if (std::fflush(stdout) != 0) fail("write error");
    return status;
}
